#include "RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(QString* error, const QString& text)
{
    if (error != nullptr)
        *error = text;
    return false;
}

}  // namespace

bool RegularFile::open(const QString& path, qint64 maxBytes, QFile& file, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(error, QStringLiteral("cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(error, QStringLiteral("not a regular file"));
    }
    if (st.st_size > maxBytes) {
        ::close(fd);
        return fail(error, QStringLiteral("too large (%1 bytes; at most %2)").arg(st.st_size).arg(maxBytes));
    }
    // Reads of a regular file never wait anyway; the flag only mattered for
    // the open.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(error, QStringLiteral("cannot be read (%1)").arg(file.errorString()));
    }
    return true;
}

bool RegularFile::read(const QString& path, qint64 maxBytes, QByteArray& out, QString* error)
{
    QFile file;
    if (!open(path, maxBytes, file, error))
        return false;
    // The size it had when it was opened; a file that grows meanwhile is
    // refused rather than read past the limit.
    out = file.read(file.size());
    if (file.error() != QFileDevice::NoError)
        return fail(error, QStringLiteral("cannot be read (%1)").arg(file.errorString()));
    if (!file.read(1).isEmpty())
        return fail(error, QStringLiteral("changed while it was read"));
    return true;
}
