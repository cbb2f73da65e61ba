#pragma once
// Where the program keeps the files it writes.
//
// An installation folder that can be written is a portable installation: the
// settings file, the parameter database and the default output folder lie
// beside the executable. A folder that refuses writes (a system-wide
// installation) sends them to the user's own folders instead:
//   $XDG_CONFIG_HOME/vidmora/libcfg.ini   ($XDG_CONFIG_HOME defaults to ~/.config)
//   $XDG_DATA_HOME/vidmora/LibParmt.dat   ($XDG_DATA_HOME defaults to ~/.local/share)
//   <the XDG videos folder>/Vidmora        (the videos folder defaults to ~/Videos)
// The help page, the encoder, the player and the libraries stay beside the
// executable either way.
#include <QString>

namespace UserFiles {

// Whether the files lie beside the executable: its folder can be written, or
// it cannot be examined at all (a missing folder keeps the paths beside it).
bool Portable();

// The settings file. Where the installation folder refuses writes but holds a
// settings file made writable for its users, that file is kept.
QString SettingsFile();
// The parameter database.
QString DatabaseFile();
// The output folder used until the user chooses one.
QString DefaultSaveDir();

// Makes the user's own files on a start that is not portable: the three
// folders, a copy of the database shipped beside the executable where the user
// has none yet (or an empty one; a database the user has is never replaced),
// and a settings file (a copy of a shipped one, otherwise empty) where the user
// has none. Does nothing in a portable installation. What cannot be made is
// left alone: the reads fall back to their defaults and the writes report
// their own errors.
void Prepare();

}  // namespace UserFiles
