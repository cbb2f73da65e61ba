// The nine output option selectors: filling them from their option tables,
// remembering each one's choice, and reading the command fragment behind the
// current entry. Every statement runs through the one shared query, so each
// operation takes what it needs from the store before it selects a position
// (selecting can run a change handler, and with it further statements, at
// once).
#include "ConvMainFrm.h"
#include "ConvMainFunc.h"
#include "Controls.h"
#include "ListMarks.h"
#include "params/DataModule.h"
#include "params/OptionStore.h"
#include "platform/AppError.h"

#include <QCoreApplication>
#include <QMap>
#include <QPointer>
#include <QTimer>

namespace {

// Fills that fail together are reported together. A fill that cannot read its
// table leaves its selector empty and the next fills go on, so every selector
// that can be read is filled. The first failure of a run opens one report,
// shown once control is back in the message loop: by then the window being
// filled is on the screen, and the box comes up over it. Later failures of the
// same run add no box of their own. When the run met a lock held by another
// program, it has waited for that lock once: its further statements do not
// wait again, until the report is shown.
struct FillRun {
  bool open = false;
  QPointer<QObject> owner;         // the window being filled; its end ends the run
  TAppError error{QString()};      // the first failure
  TASQLite3DB* relaxed = nullptr;  // the connection whose wait was lifted
  int savedTimeOut = 0;
};
FillRun g_fillRun;

void EndFillRun() {
  if (g_fillRun.relaxed && DataMod && g_fillRun.relaxed == &DataMod->DataBase)
    DataMod->DataBase.SetTimeOut(g_fillRun.savedTimeOut);
  g_fillRun = FillRun();
}

bool FillRunOpen() { return g_fillRun.open && g_fillRun.owner; }

void ReportFillFailure(const TConvMainFunc& func, const TAppError& error) {
  if (!FillRunOpen()) {
    EndFillRun();  // one whose window has gone is over
    QObject* owner = ConvMainForm ? static_cast<QObject*>(ConvMainForm) : QCoreApplication::instance();
    g_fillRun.open = true;
    g_fillRun.owner = owner;
    g_fillRun.error = error;
    QTimer::singleShot(0, owner, [] {
      const TAppError first = g_fillRun.error;
      EndFillRun();
      ShowAppError(first);
    });
  }
  TASQLite3DB* db = func.Query ? func.Query->Connection() : nullptr;
  if (db && func.Query->Busy() && !g_fillRun.relaxed) {
    g_fillRun.relaxed = db;
    g_fillRun.savedTimeOut = db->TimeOut;
    db->SetTimeOut(0);
  }
}

// Choices of this window that could not be remembered (a read-only or locked
// database). They count for as long as the window is open: a refill selects
// them, not the remembered entry, and the run uses them. The user is told once
// that they will not be remembered.
struct SessionPicks {
  QPointer<QObject> owner;  // the window they belong to
  QMap<int, int> positions;  // tag -> position
  bool told = false;
};
SessionPicks g_sessionPicks;

SessionPicks& CurrentSession() {
  QObject* window = ConvMainForm ? static_cast<QObject*>(ConvMainForm) : QCoreApplication::instance();
  if (g_sessionPicks.owner != window) {
    g_sessionPicks = SessionPicks();
    g_sessionPicks.owner = window;
  }
  return g_sessionPicks;
}

// The notice for a choice that could not be saved: the cause from the error's
// first line ("无法读取参数库: 参数库正被其他程序使用" when the store could not
// even read), what it means for the user, then the error's further lines.
QString UnsavedPickNotice(const TAppError& error) {
  const QString first = error.Message.section(QLatin1Char('\n'), 0, 0);
  const QString rest = error.Message.section(QLatin1Char('\n'), 1);
  const QString cause = first.section(QStringLiteral(": "), 1);
  QString notice = QStringLiteral("无法保存选择: ") + (cause.isEmpty() ? first : cause) +
                   QStringLiteral("\n本次仍使用所选的项, 但下次启动时不会记住。");
  if (!rest.isEmpty()) notice += QLatin1Char('\n') + rest;
  return notice;
}

TComboBoxEx& SelectorOf(const TConvMainFunc& func, int tag) {
  TComboBoxEx* selector = func.Selector(tag);
  if (!selector) throw TAppError(QStringLiteral("CmbEx selector %1 not found").arg(tag));
  return *selector;
}

// Fills selector `tag` from its table and selects its remembered entry. The
// select step comes last: its change handler may run statements of its own.
void FillSelector(TConvMainFunc& func, int tag) {
  TComboBoxEx& selector = SelectorOf(func, tag);
  TOptionStore store(func.Query);
  selector.ClearItems();
  int position = -1;
  try {
    for (const QString& caption : store.Captions(tag)) selector.AddItem(caption, kIconSelectorEntry, kIconSelectorEntry);
    position = func.LoadItemIndex(tag);
  } catch (const TAppError& error) {
    ReportFillFailure(func, error);
    return;
  }
  selector.SetItemIndex(position);
}

QString SelectedFragment(TConvMainFunc& func, int tag) {
  const int position = SelectorOf(func, tag).ItemIndex();
  return TOptionStore(func.Query).Fragment(tag, position);
}

}  // namespace

int TConvMainFunc::LoadItemIndex(int tag) {
  const SessionPicks& session = CurrentSession();
  const auto pick = session.positions.constFind(tag);
  if (pick != session.positions.constEnd()) return *pick;
  return TOptionStore(Query).RememberedPosition(tag);
}

void TConvMainFunc::FillVdoCodec() { FillSelector(*this, kTagVdoCodec); }
void TConvMainFunc::FillVdoBitrate() { FillSelector(*this, kTagVdoBitrate); }
void TConvMainFunc::FillVdoSize() { FillSelector(*this, kTagVdoSize); }
void TConvMainFunc::FillVdoFps() { FillSelector(*this, kTagVdoFps); }
void TConvMainFunc::FillVdoAspect() { FillSelector(*this, kTagVdoAspect); }
void TConvMainFunc::FillAdoCodec() { FillSelector(*this, kTagAdoCodec); }
void TConvMainFunc::FillAdoBitrate() { FillSelector(*this, kTagAdoBitrate); }
void TConvMainFunc::FillAdoChannels() { FillSelector(*this, kTagAdoChannels); }
void TConvMainFunc::FillAdoFreq() { FillSelector(*this, kTagAdoFreq); }

void TConvMainFunc::SaveItemIndex(TComboBoxEx* selector) {
  if (!selector) return;
  const int position = selector->ItemIndex();
  const int tag = selector->Tag;
  TOptionStore store(Query);
  SessionPicks& session = CurrentSession();
  try {
    store.StorePosition(tag, position);
    session.positions.remove(tag);
  } catch (const TAppError& error) {
    // The choice was not remembered (a read-only or locked database), yet it
    // stands: the selector keeps it and the run uses it. The user is told once
    // for this window, and the event goes on, so the other selectors still
    // fill. Within a run of failed fills, their report stands for it.
    session.positions.insert(tag, position);
    if (session.told || FillRunOpen()) {
      if (!error.Detail.isEmpty()) qWarning("%s", qUtf8Printable(error.Detail));
      return;
    }
    session.told = true;
    ShowAppError(TAppError(UnsavedPickNotice(error), error.Detail));
  }
}

QString TConvMainFunc::GetVdoCodecCmd() { return SelectedFragment(*this, kTagVdoCodec); }
QString TConvMainFunc::GetVdoBitrateCmd() { return SelectedFragment(*this, kTagVdoBitrate); }
QString TConvMainFunc::GetVdoSizeCmd() { return SelectedFragment(*this, kTagVdoSize); }
QString TConvMainFunc::GetVdoFpsCmd() { return SelectedFragment(*this, kTagVdoFps); }
QString TConvMainFunc::GetVdoAspectCmd() { return SelectedFragment(*this, kTagVdoAspect); }
QString TConvMainFunc::GetAdoCodecCmd() { return SelectedFragment(*this, kTagAdoCodec); }
QString TConvMainFunc::GetAdoBitrateCmd() { return SelectedFragment(*this, kTagAdoBitrate); }
QString TConvMainFunc::GetAdoChannelsCmd() { return SelectedFragment(*this, kTagAdoChannels); }
QString TConvMainFunc::GetAdoFreqCmd() { return SelectedFragment(*this, kTagAdoFreq); }
