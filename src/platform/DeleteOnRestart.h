#pragma once
// Deleting a file at the next start, where the platform has no deletion at restart: the path
// is recorded in a list file, and the next program start deletes what it can from the list and
// keeps the rest for the start after.
//
// The list holds the paths' file-system bytes, each ended by a NUL byte (a name may hold a line
// break, never a NUL). It is rewritten whole, beside the old one, so it is never cut short.

#include <QString>

// Records Path in the list; false when the list could not be written.
bool ScheduleDeleteOnRestart(const QString& ListFile, const QString& Path);
// Deletes every listed file that can be deleted (one already gone counts as deleted) and keeps
// the others in the list. Returns how many stay.
int DeleteScheduledFiles(const QString& ListFile);
