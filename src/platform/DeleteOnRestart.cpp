#include "DeleteOnRestart.h"

#include "NativePath.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <unistd.h>

namespace {

QList<QByteArray> ReadList(const QString& ListFile) {
    QFile File(ListFile);
    if (!File.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> Paths = File.readAll().split('\0');
    Paths.removeAll(QByteArray());
    return Paths;
}

bool WriteList(const QString& ListFile, const QList<QByteArray>& Paths) {
    if (Paths.isEmpty())
        return !QFile::exists(ListFile) || QFile::remove(ListFile);
    QByteArray Bytes;
    for (const QByteArray& Path : Paths)
        Bytes += Path + '\0';
    QSaveFile File(ListFile);
    // Unbuffered: Qt 6.4 loses the error of a failed buffered write (see SimpleXML).
    return File.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
           File.write(Bytes) == Bytes.size() && File.commit();
}

} // namespace

bool ScheduleDeleteOnRestart(const QString& ListFile, const QString& Path) {
    QList<QByteArray> Paths = ReadList(ListFile);
    const QByteArray Native = PathToNative(Path);
    if (!Paths.contains(Native))
        Paths << Native;
    return WriteList(ListFile, Paths);
}

int DeleteScheduledFiles(const QString& ListFile) {
    QList<QByteArray> Left;
    for (const QByteArray& Path : ReadList(ListFile))
        if (unlink(Path.constData()) != 0 && errno != ENOENT)
            Left << Path;
    WriteList(ListFile, Left);
    return int(Left.size());
}
