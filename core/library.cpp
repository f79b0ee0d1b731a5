// libKorvel.so is the core archive wrapped whole; this file only gives the library a source of
// its own.
