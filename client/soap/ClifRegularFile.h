#ifndef CLIF_REGULAR_FILE_H
#define CLIF_REGULAR_FILE_H

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// 0 when path names a regular file that can be opened for reading, else an error number
// (EACCES for anything that is not a regular file). The client reads its own files whole or
// word by word; a FIFO would block the open for ever and a device such as /dev/zero would
// never end, so only regular files are read. The look is taken without blocking (O_NONBLOCK)
// and before the file is opened for reading.
inline int checkRegularFile(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd < 0)
    {
        int error = errno != 0 ? errno : EIO;
        // A UNIX socket cannot be opened at all (ENXIO): it counts as any other file that is not
        // a regular file.
        return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) ? EACCES : error;
    }
    int error = 0;
    if (fstat(fd, &info) != 0)
        error = errno != 0 ? errno : EIO;
    else if (!S_ISREG(info.st_mode))
        error = EACCES;
    close(fd);
    return error;
}

#endif
