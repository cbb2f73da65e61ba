#pragma once
// The marks the window's lists show (indices into its image list), the rows of
// the properties panel and the selectors' numbers, defined once for app/.

// Image list indices of the file list's rows, the panel's rows and the
// selectors' entries.
enum TListIcon : int {
  kIconConverting = 2,
  kIconWaiting = 4,  // a row as added, or put back to waiting; also the panel's file heading
  kIconFinished = 5,
  kIconAudioHeading = 8,
  kIconSelectorEntry = 9,  // every entry of the option selectors
  kIconPanelValue = 10,
  kIconStopped = 11,  // failed, skipped or stopped
  kIconVideoHeading = 18,
  kIconFinishedWithWarning = 19,
};

// Rows of the properties panel: the file heading, then the values of
// TFileProperties in order, with the video and audio headings among them.
enum TPanelRow : int {
  kPanelFileHeading = 0,
  kPanelFirstValue = 1,
  kPanelVideoHeading = 5,
  kPanelAudioHeading = 11,
  kPanelChannels = 14,
  kPanelLastValue = 15,
  kPanelRowCount = 16,
};

// The selectors' numbers (their Tag, and their slot in TConvMainFunc::ParamCtrls):
// the five video selectors, then the four audio selectors.
enum TSelectorTag : int {
  kTagVdoCodec = 1,
  kTagVdoBitrate,
  kTagVdoSize,
  kTagVdoFps,
  kTagVdoAspect,
  kTagAdoCodec,
  kTagAdoBitrate,
  kTagAdoChannels,
  kTagAdoFreq,
};
constexpr int kVideoSelectors = kTagAdoCodec - kTagVdoCodec;
constexpr int kAudioSelectors = kTagAdoFreq - kTagAdoCodec + 1;
