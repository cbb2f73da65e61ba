/* Loaded into the encoder (LD_PRELOAD) to stand for a file system that can neither rename
 * without replacing nor make a second link (some network and FUSE file systems): the encoder
 * must then look at a name just before its plain rename, and never replace what is there. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <unistd.h>

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned int flags) {
  (void)olddirfd;
  (void)oldpath;
  (void)newdirfd;
  (void)newpath;
  (void)flags;
  errno = EINVAL;
  return -1;
}

int link(const char* oldpath, const char* newpath) {
  (void)oldpath;
  (void)newpath;
  errno = EPERM;
  return -1;
}
