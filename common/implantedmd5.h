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

// Whether head, the first size bytes of an image, holds the checksum
// information: 1 when it does, -1 when not.
int mediaCheckHead(const void *head, long long size);
// How many bytes from offset 0 the check of such an image reads: the volume
// without its skipped sectors. -1 when head holds no checksum information.
long long mediaCheckHeadLength(const void *head, long long size);

// mediaCheckFD with the checksum information taken from head (the first size
// bytes of the image that was written to fd) instead of from fd, so that a
// drive still holding an older image is measured against the new one.
// -1 when head holds no checksum information.
int mediaCheckFDWithHead(int fd, const void *head, long long size, checkCallback callback, void *data);

#ifdef __cplusplus
}
#endif
