// The simulator's plug-in interface (AGSI) as this system sees it: the record layouts, the codes,
// and the signatures of the host functions that the plug-in binds by name. Both sides include
// this header: the plug-in (Korvel and its modules) and our own hosts (host/agsi).
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Register and virtual-register types.
enum {
  AGSIBYTE = 1,
  AGSIWORD = 2,
  AGSILONG = 4,
  AGSIBIT = 5,
  AGSIVTRCHAR = 10,
  AGSIVTRWORD = 11,
  AGSIVTRLONG = 12,
  AGSIVTRFLOAT = 13,
};

// Access kinds for watches.
enum { AGSIREAD = 0, AGSIWRITE = 1, AGSIREADWRITE = 2 };

// Reasons passed to a watch call-back.
enum {
  AGSI_READ = 0x02,
  AGSI_WRITE = 0x04,
  AGSI_VT_READ = 0x12,
  AGSI_VT_WRITE = 0x14,
};

// Function codes of AgsiEntry.
enum {
  AGSI_CHECK = 0,
  AGSI_INIT = 1,
  AGSI_TERMINATE = 2,
  AGSI_RESET = 3,
};

// The target kind that the check call must report for this plug-in to accept it.
enum { AGSI_TARGET_KIND_CORTEX_M = 7 };

typedef uint32_t AGSIADDR;
typedef uint32_t AGSIVTR;  // a virtual-register handle, as AgsiDefineVTR returns it
typedef void* AGSITIMER;
typedef void (*AGSICALLBACK)(uint32_t address, uint32_t reason);
typedef void (*AGSITIMERCALLBACK)(void);

typedef struct AGSIRECT {
  int32_t left, top, right, bottom;
} AGSIRECT;

// Initialisation record passed with AGSI_INIT. The first field is the handle on which the
// plug-in looks up the host functions by name.
typedef struct AGSICONFIG {
  void* hInstance;
  const char* pszProjectPath;
  const char* pszDevice;
  const char* pszConfiguration;
  const char* pszAppFile;
  void* hwnd;
  uintptr_t callerId;
} AGSICONFIG;

struct AGSIDLGD;
struct AGSIMENU;

// The record of a dialog that the host knows about (opened from a menu entry).
typedef struct AGSIDLGD {
  uint32_t iOpen;          // non-zero while the dialog is (to be) open
  void* hw;                // the dialog's window, or null
  void* wp;                // dialog procedure (unused by this system)
  AGSIRECT rc;             // saved window rectangle in screen pixels; left -1 means none
  void (*Update)(void);    // called by the host periodically while the dialog is open
  void (*Kill)(struct AGSIDLGD* dialog);  // called by the host to close the dialog
  struct AGSIDLGD* next;
} AGSIDLGD;

// A menu entry in the host's peripherals menu.
typedef struct AGSIMENU {
  int32_t iDelim;
  const char* szText;
  void (*fp)(struct AGSIMENU* menu);
  uint32_t nID;
  uint32_t nDlgId;
  AGSIDLGD* pDlg;
} AGSIMENU;

// Symbol query record: 280 bytes, little-endian.
typedef struct AGSISYMDSC {
  uint32_t nMask;      // @0
  char szName[256];    // @4
  uint32_t reserved;   // @260
  uint64_t val;        // @264: the symbol's address (low 32 bits)
  uint32_t type;       // @272: 3 = unsigned char variable
  uint32_t ok;         // @276: 1 = found
} AGSISYMDSC;

enum { AGSI_SYMTYPE_UCHAR = 3 };

// Interrupt declaration record (AgsiDeclareInterrupt).
typedef struct AGSIINTERRUPT {
  uint32_t vec;
  const char* mess;
  uint32_t msfr;  uint32_t mmask;  const char* mname;
  uint32_t rsfr;  uint32_t rmask;  const char* rname;
  uint32_t esfr;  uint32_t emask;  const char* ename;
  uint32_t p0sfr; uint32_t p0mask; const char* pname;
  uint32_t p1sfr; uint32_t p1mask;
  int32_t pwl;
  int32_t auto_reset;
} AGSIINTERRUPT;

// Signatures of the host functions, in the order of the core's function table.
typedef int (*PFN_AgsiDefineSFR)(const char* name, uint32_t address, uint32_t type, uint8_t bitpos);
typedef uint32_t (*PFN_AgsiDefineVTR)(const char* name, uint32_t type, uint32_t init);
typedef int (*PFN_AgsiSetWatchOnSFR)(uint32_t address, AGSICALLBACK cb, uint32_t access);
typedef int (*PFN_AgsiSetWatchOnVTR)(uint32_t vtr, AGSICALLBACK cb, uint32_t access);
typedef int (*PFN_AgsiSetWatchOnMemory)(uint32_t first, uint32_t last, AGSICALLBACK cb, uint32_t access);
typedef AGSITIMER (*PFN_AgsiCreateTimer)(AGSITIMERCALLBACK cb);
typedef int (*PFN_AgsiDefineMenuItem)(AGSIMENU* menu);
typedef int (*PFN_AgsiRegisterExecCallBack)(void (*cb)(uint32_t pc));
typedef int (*PFN_AgsiWriteSFR)(uint32_t address, uint32_t value, uint32_t mask);
typedef int (*PFN_AgsiReadSFR)(uint32_t address, uint32_t* current, uint32_t* previous, uint32_t mask);
typedef int (*PFN_AgsiWriteVTR)(uint32_t vtr, uint32_t value);
typedef int (*PFN_AgsiReadVTR)(uint32_t vtr, uint32_t* value);
typedef int (*PFN_AgsiSetSFRReadValue)(uint32_t value);
typedef int (*PFN_AgsiReadMemory)(uint32_t address, uint32_t count, uint8_t* buffer);
typedef int (*PFN_AgsiWriteMemory)(uint32_t address, uint32_t count, uint8_t* buffer);
typedef uint32_t (*PFN_AgsiGetLastMemoryAddress)(void);
typedef int (*PFN_AgsiIsSimulatorAccess)(void);
typedef int (*PFN_AgsiSetTimer)(AGSITIMER timer, uint32_t states);
typedef uint64_t (*PFN_AgsiGetStates)(void);
typedef uint32_t (*PFN_AgsiGetProgramCounter)(void);
typedef int (*PFN_AgsiDeclareInterrupt)(AGSIINTERRUPT* irq);
typedef uint32_t (*PFN_IsInterruptActive)(uint32_t irq);
typedef uint32_t (*PFN_SetInterruptPending)(uint32_t irq);
typedef int (*PFN_AgsiIsSleeping)(void);
typedef void (*PFN_AgsiStopSimulator)(void);
typedef void (*PFN_AgsiTriggerReset)(void);
typedef void (*PFN_AgsiUpdateWindows)(void);
typedef void (*PFN_AgsiHandleFocus)(void* window);
typedef uint32_t (*PFN_AgsiGetExternalClockRate)(void);
typedef uint32_t (*PFN_AgsiGetInternalClockRate)(void);
typedef double (*PFN_AgsiGetClockFactor)(void);
typedef void (*PFN_AgsiMessage)(const char* format, ...);
typedef int (*PFN_AgsiGetTargetKey)(uint32_t key);
typedef int (*PFN_AgsiSetTargetKey)(uint32_t key, int value);
typedef uint32_t (*PFN_AgsiGetSymbolByName)(AGSISYMDSC* symbol);
typedef uint32_t (*PFN_AgsiGetSymbolByValue)(AGSISYMDSC* symbol);
typedef double (*PFN_AgsiGetTime)(void);
typedef void* (*PFN_AgsiGetExtInfo)(void* info);
typedef int (*PFN_AgsiExecuteCommand)(const char* command);

// The plug-in's one entry point.
typedef uint32_t (*PFN_AgsiEntry)(uint32_t code, void* record);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(AGSISYMDSC) == 280, "AGSISYMDSC must keep the host's layout");
static_assert(offsetof(AGSISYMDSC, val) == 264, "AGSISYMDSC.val at 264");
static_assert(offsetof(AGSISYMDSC, type) == 272, "AGSISYMDSC.type at 272");
static_assert(offsetof(AGSISYMDSC, ok) == 276, "AGSISYMDSC.ok at 276");
#endif
