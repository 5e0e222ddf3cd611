#pragma once

// Reader of the MD5 checksum that implantisomd5 stores in the application-use
// area of an ISO image's primary volume descriptor.
//
// Results: 1 the checksum matches, 0 mismatch, -1 no checksum information,
// -2 the file or descriptor cannot be used, 2 the callback asked to stop.

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*checkCallback)(void *data, long long offset, long long total);

int mediaCheckFile(const char *file, checkCallback callback, void *data);
int mediaCheckFD(int fd, checkCallback callback, void *data);

#ifdef __cplusplus
}
#endif
