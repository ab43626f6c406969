// Where the program keeps its settings and result files. Plain functions so
// the derivation can be checked with any path, whatever machine runs it.
#pragma once

#include <QString>

// The executable's base name: no directory, and nothing from the first "."
// on ("C:\\bin\\prog.beta.exe" gives "prog"). Both "/" and "\" separate.
QString AppNameFromPath(const QString &exePath);

// The per-user data location L with one level "Velmarsk" inserted above its
// last component, always with "/" separators and no trailing separator added.
// L is split at every "/" and "\" with empty parts kept, so an L ending in a
// separator yields a DataDir ending in "Velmarsk/".
QString DataDirFromLocation(const QString &location);

// The settings file inside dataDir, named after the application.
QString CfgFilePath(const QString &dataDir, const QString &appName);

// The window's DataDir on this machine: DataDirFromLocation of the per-user
// data location (needs the application object for its name).
QString UserDataDir();

// The same file names as next to dataDir, but inside outDir: outDir, "/",
// and dataDir's last component, which starts every file's name.
QString OutDataDir(const QString &outDir, const QString &dataDir);
