#pragma once
// Where the program keeps the files it writes.
//
// A folder that the user owns, can write and has made their own is a portable
// installation: the settings file, the parameter database and the default
// output folder lie beside the executable. Any other installation folder is
// never written to, whoever runs the program, root included, and sends them to
// the user's own folders instead:
//   $XDG_CONFIG_HOME/vidmora/libcfg.ini   ($XDG_CONFIG_HOME defaults to ~/.config)
//   $XDG_DATA_HOME/vidmora/LibParmt.dat   ($XDG_DATA_HOME defaults to ~/.local/share)
//   $XDG_DATA_HOME/vidmora/ConvQueue.json (the conversion list kept between starts)
//   <the XDG videos folder>/Vidmora        (the videos folder defaults to ~/Videos)
// The help page, the encoder, the player and the libraries stay beside the
// executable either way. A folder is not portable when it lies under /usr,
// when it holds the marker file kMarkerFile (which the build folder and every
// installation, the Debian package's included, carry), when this process may
// not write it, or when another user owns it.
#include <QString>

namespace UserFiles {

// The marker file: while it lies beside the executable, each user's files are
// kept in their own folders. Removing it makes a copy of the folder portable.
inline constexpr char kMarkerFile[] = "user-files";

// Whether the files lie beside the executable: its folder is portable as said
// above, or it cannot be examined at all (a missing folder keeps the paths
// beside it).
bool Portable();

// The settings file. Where the installation folder is not portable but holds
// a settings file that another user made writable for this one (by group or
// for everyone), that file is kept; never one under /usr, nor one this user
// owns (root's own shipped file), nor one only root's power may write.
QString SettingsFile();
// The parameter database.
QString DatabaseFile();
// The output folder used until the user chooses one.
QString DefaultSaveDir();
// The conversion list kept between starts, beside the database (in the user's
// data folder, or beside the executable when portable).
QString QueueFile();

// Makes the user's own files on a start that is not portable: the three
// folders, a copy of the database shipped beside the executable where the user
// has none yet (or an empty one; a database the user has is never replaced),
// and a settings file (a copy of a shipped one, otherwise empty) where the user
// has none. Does nothing in a portable installation. What cannot be made is
// left alone: the reads fall back to their defaults and the writes report
// their own errors.
void Prepare();

}  // namespace UserFiles
