#pragma once
// The controller of the preview window. Every event of the window creates one,
// runs one operation and frees it; it keeps no state between events and finds
// the window through the global PlayMainForm.
#include <QString>

#include <cstdint>

class QLabel;
class QSlider;
class QTimer;

class TPlayMainFunc {
 public:
  TPlayMainFunc();
  TPlayMainFunc(const TPlayMainFunc&) = delete;
  TPlayMainFunc& operator=(const TPlayMainFunc&) = delete;

  // Ends our players, then starts the player on the file from second 0 with
  // the clock running.
  void StartPlay(const QString& file);
  // Stops the clock, resets the readout and the thumb, ends our players.
  void StopPlay();
  // Reads the file's duration into the duration label and the track bar's
  // maximum; keeps both when the media library cannot be loaded.
  void LoadDuration(const QString& file);
  // "HH:MM:SS" of a number of seconds; a negative number counts as 0.
  QString FormatTime(int seconds);
  // Stops the clock and resets the readout and the thumb; players are left alone.
  void ResetClock();
  // One clock step: the thumb moves to where the player says its picture is,
  // or one second on while it says nothing; at the end everything resets.
  void StepClock();
  // While playing, shows at once the second the player has just reported,
  // when it is another than the one shown.
  void FollowPlayer();
  // The clock's second of a picture at a reported position.
  static int ReportedSecond(double position);
  // Shows a second in the readout and the thumb (not while the user holds the
  // thumb); at the maximum everything resets.
  void ShowPosition(int second);
  // Restarts the player at the thumb's second while playing; springs the thumb
  // back while idle.
  void SeekPlay(const QString& file);
  // Ends the player processes of that executable file name that this program
  // started, and only those.
  void KillProcessByName(const QString& name);

  // The command line that starts the player on a file from the beginning, and
  // the one that starts it at the track bar's second.
  QString BuildStartCommand(const QString& file);
  QString BuildSeekCommand(const QString& file);
  // Shows a duration text ("HH:MM:SS..." or empty) in the duration label and
  // makes its whole seconds the track bar's maximum. A text whose hours,
  // minutes or seconds are not numbers raises an error after the label is set.
  void ApplyDurationText(const QString& text);

  // Fields, bound when the controller is created.
  std::uint32_t PlayWndHandle = 0;  // native window of RzPlayPanel
  QString PlayerPath;               // the player beside the executable
  QLabel* RzLabBgTime = nullptr;    // position label
  QLabel* RzLabEdTime = nullptr;    // duration label
  QSlider* SkinTrkBar = nullptr;    // position model: value and maximum in seconds
  QTimer* PlayTimer = nullptr;      // the clock
};
