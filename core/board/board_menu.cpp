#include "board/board_menu.h"

#include "board/board_dialog.h"
#include "korvel/board_testing.h"
#include "korvel/host_functions.h"

namespace korvel {
namespace {

void toggleBoard(AGSIMENU* menu);
void refresh() { refreshBoard(); }
void kill(AGSIDLGD* record) { killBoard(record); }

constexpr uint32_t kBoardDialogResource = 1000;

AGSIDLGD dialogRecord{1, nullptr, nullptr, {-1, -1, -1, -1}, &refresh, &kill, nullptr};
AGSIMENU menuRecord{1, "&Korvel", &toggleBoard, 0, kBoardDialogResource, &dialogRecord};

void toggleBoard(AGSIMENU* menu) {
  AGSIDLGD* record = menu && menu->pDlg ? menu->pDlg : &dialogRecord;
  if (!record->hw) {
    record->iOpen = 1;
    BoardDialog::open(menu ? menu : &menuRecord);
  } else {
    kill(record);
  }
}

}  // namespace

AGSIMENU& boardMenuRecord() { return menuRecord; }
AGSIDLGD& boardDialogRecord() { return dialogRecord; }

int defineBoardMenu() {
  HostFunctionTable* agsi = getAgsi();
  if (!agsi || !agsi->AgsiDefineMenuItem) return 0;
  return agsi->AgsiDefineMenuItem(&menuRecord);
}

}  // namespace korvel

extern "C" KORVEL_API AGSIMENU* korvelBoardMenuForTesting(void) { return &korvel::boardMenuRecord(); }
