// The thin layer between the emulator and the operating system. Nothing outside platform/
// includes OS headers; a Windows build replaces the .cpp files here and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace korvel::platform {

// ---- Modules -------------------------------------------------------------------------------
// The full path of the shared library (or program) that contains the given address.
std::filesystem::path modulePathOf(const void* addressInModule);

using LibraryHandle = void*;
// Loads a shared library by full path; null on failure with the reason in *error.
LibraryHandle loadLibrary(const std::filesystem::path& path, std::string* error = nullptr);
// The library at path if the process has already loaded it (another handle on it, to be freed),
// else null; never loads it.
LibraryHandle loadedLibrary(const std::filesystem::path& path);
// A named export of a loaded library, or null.
void* findSymbol(LibraryHandle library, const char* name);
// Frees a library; true on success.
bool freeLibrary(LibraryHandle library);

// ---- Time ----------------------------------------------------------------------------------
// Nanoseconds of a monotonic clock.
uint64_t monotonicNanos();
void sleepMillis(uint32_t ms);
void sleepMicros(uint32_t us);

// ---- Keyboard ------------------------------------------------------------------------------
// Reads the present down/up state of keys by Windows virtual-key code. Each reader owns its
// own connection to the display, so it may live on any one thread (the key poller's).
class KeyboardReader {
 public:
  virtual ~KeyboardReader() = default;
  // Takes one snapshot of the keyboard; isDown answers from it.
  virtual void refresh() = 0;
  virtual bool isDown(uint32_t virtualKey) const = 0;
  // False when no display could be reached (every key then reads as up).
  virtual bool available() const = 0;
};
std::unique_ptr<KeyboardReader> openKeyboardReader();

// ---- Directory change notification -----------------------------------------------------------
// Waits for files to be created, written or renamed in one folder. wake() releases a waiting
// thread (for shutdown) from any other thread.
class DirectoryWatch {
 public:
  enum class Result { Changed, Woken, Failed };
  virtual ~DirectoryWatch() = default;
  virtual Result wait() = 0;
  virtual void wake() = 0;
};
// Null when the folder cannot be watched (error in *error).
std::unique_ptr<DirectoryWatch> watchDirectory(const std::filesystem::path& folder,
                                               std::string* error = nullptr);
// A watch that reports Changed every intervalMs whatever happened: for folders whose changes the
// system's notification cannot see (network file systems, where other machines write).
std::unique_ptr<DirectoryWatch> pollDirectory(uint32_t intervalMs);
// True when the folder lives on a file system that other machines may change behind the local
// notification's back (NFS, SMB/CIFS, FUSE, 9p...). False when unknown.
bool isNetworkFileSystem(const std::filesystem::path& folder);

// ---- Small files written by other programs ---------------------------------------------------
// Who a file is: two reads that give equal identities saw the same version of the same file.
struct FileIdentity {
  // Not the status-change time: removing the file changes it, and a reader that catches the
  // file in the middle of its removal must still see the version it saw before.
  uint64_t device = 0, inode = 0, size = 0;
  int64_t modifiedNanos = 0;
  bool operator==(const FileIdentity&) const = default;
};
// Reads a regular file of at most maxBytes. False (nothing read) for anything else: a missing or
// unreadable file, a folder, a FIFO or device (never waits on one), a larger file, a file
// removed while it was being opened.
bool readSmallFile(const std::filesystem::path& file, size_t maxBytes, std::string* content,
                   FileIdentity* identity);

// ---- Files ---------------------------------------------------------------------------------
// Replaces a file's contents so that no reader ever sees a part of them: the text goes to a new
// file with a name of its own beside the file (so two processes saving at once never share it),
// which takes the old file's permission bits and is then renamed over it. A symbolic link stays
// a link: its final target is the file replaced. A failure leaves the old file as it was and
// gives false with the reason in *error.
bool replaceFileContents(const std::filesystem::path& path, const std::string& contents,
                         std::string* error = nullptr);

// ---- Sound -------------------------------------------------------------------------------
// Plays an in-memory WAVE clip without waiting for it. Without an audio device it does nothing.
void playWaveAsync(const uint8_t* wave, size_t size);
// Bytes of sound queued and not yet played (0 without an audio device).
size_t pendingSoundBytes();

// A mono stream of float samples (-1..1) to the default audio device. The device's own thread
// calls `pull` for each block it needs; the stream stops when the object goes.
class AudioStream {
 public:
  virtual ~AudioStream() = default;
  virtual int sampleRate() const = 0;
};
using AudioPull = std::function<void(float* samples, size_t count)>;
// Opens a stream near `wantedRate` Hz. Null when there is no audio device to play on (none
// found, or only SDL's "dummy" driver that plays nowhere), with the reason in *error.
std::unique_ptr<AudioStream> openAudioStream(int wantedRate, AudioPull pull, std::string* error);

// ---- Virtual display ---------------------------------------------------------------------
// A private virtual X server (Xvfb) for programs that need windows where no display is set. The
// server picks a free display number itself, so two runs side by side never collide; it is
// stopped when the object goes, and also when this process dies without cleaning up.
class VirtualDisplay {
 public:
  virtual ~VirtualDisplay() = default;
  // The display's name for DISPLAY, e.g. ":7".
  virtual std::string name() const = 0;
};
// Starts the server and waits until it accepts connections (up to timeoutMillis). Null with one
// line in *error when Xvfb is not installed or does not come up.
std::unique_ptr<VirtualDisplay> startVirtualDisplay(std::string* error, uint32_t timeoutMillis = 10000);

// ---- Byte streams ------------------------------------------------------------------------
// A two-way byte stream to another program: a pseudo-terminal, a TCP connection, standard input.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Waits up to timeoutMs for bytes: how many were read (> 0), 0 when none came, -1 when the
  // other side has gone for good.
  virtual long read(uint8_t* buffer, size_t size, uint32_t timeoutMs) = 0;
  // Writes the bytes, waiting up to timeoutMs for room; false when the other side has gone or
  // does not take them in time (what was not written is then dropped).
  virtual bool write(const uint8_t* data, size_t size, uint32_t timeoutMs) = 0;
};
// A new pseudo-terminal in raw mode; *slaveName is the terminal's name for other programs
// (e.g. "/dev/pts/3"). It stays usable while programs open and close that terminal. Null with
// one line in *error.
std::unique_ptr<ByteStream> openPseudoTerminal(std::string* slaveName, std::string* error);
// Standard input as a stream (for reading only; -1 once it ends).
std::unique_ptr<ByteStream> standardInputStream();
// A TCP server on 127.0.0.1 only (port 0: a free port chosen by the system).
class ByteListener {
 public:
  virtual ~ByteListener() = default;
  virtual uint16_t port() const = 0;
  // The next client, or null when none connected within timeoutMs.
  virtual std::unique_ptr<ByteStream> accept(uint32_t timeoutMs) = 0;
};
std::unique_ptr<ByteListener> listenOnLoopback(uint16_t port, std::string* error);

// Keeps the process's standard output for the caller alone: returns a stream on it and sends
// whatever else the process writes to standard output (libraries, plug-ins, their threads) to
// standard error instead. Null, with nothing changed, when that cannot be done.
std::FILE* reserveStandardOutput();

}  // namespace korvel::platform
