#pragma once
// The drives of a Linux machine, as a desktop user would name them: the mounted volumes backed
// by a block device (no pseudo or temporary file systems, one row per device), and always the
// root "/", in path order.

#include <QStringList>

QStringList GetLogicalDrives();
