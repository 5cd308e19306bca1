#ifndef OKR_IPC_EXPORT_H
#define OKR_IPC_EXPORT_H

// Marks the library's interface. The shared library is compiled with every
// symbol hidden, so what carries OKR_API is exactly what it exports and what
// its binary interface promises; everything else may change freely. Windows
// builds only the static library, whose users see every symbol anyway.
#if defined(__GNUC__) && !defined(_WIN32)
#define OKR_API __attribute__((visibility("default")))
#else
#define OKR_API
#endif

#endif
