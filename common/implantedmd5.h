#pragma once

// Reader of the MD5 checksum that implantisomd5 stores in the application-use
// area of an ISO image's primary volume descriptor: the C interface of
// ImplantedChecksum (implantedchecksum.h), which these functions feed from a
// file or a descriptor.
//
// Results: 1 the checksum matches, 0 mismatch, -1 no checksum information,
// -2 the file or descriptor cannot be used, 2 the callback asked to stop.
// Checksum information that names no range inside the volume (skipped
// sectors below zero, or as many as the volume has or more) counts as none.
//
// The callback gets (0, total) first, (bytes checked, total) after every
// 32 KiB, and (image size, total) at the end; a non-zero return stops the
// check. It is always called on the caller's thread.
//
// mediaCheckFD reads from offset 0 with pread, leaving the descriptor's
// position alone, in 4096-byte-aligned blocks into page-aligned buffers, so a
// descriptor opened with O_DIRECT works. Reads run one 4 MiB chunk ahead of
// the hashing on a short-lived worker thread that ends before the call returns.

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*checkCallback)(void *data, long long offset, long long total);

int mediaCheckFile(const char *file, checkCallback callback, void *data);
int mediaCheckFD(int fd, checkCallback callback, void *data);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include "implantedchecksum.h"

// mediaCheckFD with the progress as ImplantedChecksum's: called alike, and
// returning true to go on.
int mediaCheckFD(int fd, const ImplantedChecksum::Progress &progress);
#endif
