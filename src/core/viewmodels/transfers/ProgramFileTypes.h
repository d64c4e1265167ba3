#pragma once

#include <QString>

namespace quillbarrow {

// Tells the files that the desktop would run rather than show: programs (Linux and Windows
// programs, Java archives and Android packages, AppImages), scripts (Windows batch and PowerShell
// files among them), launchers (".desktop" files, Windows shortcuts), what installs programs
// (Debian and RPM packages, Flatpak bundles, references and software sources, Snap packages) and
// Windows registry changes. A phone is not a trusted source, so none of its files is handed to the
// desktop's default application as one of these.
//
// The types are the shared MIME database's, each with every type filed under it: the database
// files the script languages it knows (shell, Python, Perl, Ruby, Lua, awk, JavaScript) and
// AppImages under the executable type, and Android packages under Java archives. Two kinds of
// data are filed under program types for their syntax alone and are not programs: JSON (under
// JavaScript) and icon theme indexes (under launchers).
class ProgramFileTypes {
public:
    // Whether the name alone makes the file a program, script or launcher: any type whose
    // pattern it matches ("photo\u202Egpj.desktop" ends in ".desktop").
    static bool isProgramName(const QString& fileName);
    // Whether the file at `path` is one by its name or by its contents: the contents' own type
    // (a launcher or a program under another name), or a first line that names an interpreter ("#!").
    static bool isProgramFile(const QString& path);
};

} // namespace quillbarrow
