#ifndef QM_CORE_FILE_LOCK_H
#define QM_CORE_FILE_LOCK_H

// Waits for an advisory lock on the whole file (flock's LOCK_SH or LOCK_EX): 0, or -1
// when the file cannot be locked. The lock belongs to the open file and goes with its
// last descriptor; closing another descriptor of the same file does not drop it.
int lock_whole_file(int fd, int operation);

#endif
