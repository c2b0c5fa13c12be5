/* Marks what libdat exports: its shared build hides everything else. */
#ifndef DAT_EXPORT_H
#define DAT_EXPORT_H

#if defined(_WIN32) || !defined(__GNUC__)
#define DAT_API
#else
#define DAT_API __attribute__((visibility("default")))
#endif

#endif
