#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

namespace quillnet {

// What a control tells its page (the notifications of a Win32 dialog).
enum class ControlEvent {
  kClicked,        // a button or a check box was clicked (BN_CLICKED)
  kFieldChanged,   // a part of an IP address entry changed (IPN_FIELDCHANGED)
  kDoubleClicked,  // a list was double-clicked (NM_DBLCLK)
};

// What an IP address entry holds: four parts, each 0 to 255 or empty.
struct IpEntry {
  std::array<std::optional<int>, 4> parts;

  // The parts joined by dots, an empty part left empty ("192.168.1." for three parts and an
  // empty fourth); "" when every part is empty.
  std::string Text() const;
  // Any text, as the entry takes it: split at dots into at most four parts, each keeping its
  // leading digits (up to three) as a number, one above 255 made 255; parts not given are
  // empty.
  static IpEntry FromText(const std::string& text);

  bool operator==(const IpEntry&) const = default;
};

// The fonts a page asks for by what they are for; each frame makes them its own way.
enum class FontRole {
  kExteriorTitle,  // the exterior pages' title: 12-point bold Verdana
  kBullet,         // the Welcome page's bullets: 8-point Marlett, in which "h" is a bullet
  kSummary,        // the summaries: 10-point Arial, a tab stop every four average characters
};

enum class BoxIcon { kNone, kWarning };

// The rows of a list control, which the frame reads as it shows them. The page tells the frame
// what changed (PageHost::ListRowsInserted, ListRowChanged), so a list keeps its selection and
// scroll position while rows are added and updated.
class ListRows {
 public:
  virtual ~ListRows() = default;
  virtual int ColumnCount() const = 0;
  virtual std::string ColumnTitle(int column) const = 0;
  // In horizontal dialog units, so that a column grows with the dialog font, as the page does.
  virtual int ColumnWidth(int column) const = 0;
  virtual int RowCount() const = 0;
  virtual std::string Cell(int row, int column) const = 0;
  // A column that sorts by its numbers' values, not by its text.
  virtual bool IsNumeric(int column) const = 0;
};

// What a page asks of its window: each frame provides one for each page, over its own
// controls. Controls are named by their ids in the dialog template; texts are UTF-8. Every call
// but Post is made on the user-interface thread.
class PageHost {
 public:
  virtual ~PageHost() = default;

  // Controls.
  virtual void SetText(int id, const std::string& text) = 0;
  virtual std::string GetText(int id) const = 0;
  virtual void Show(int id, bool shown) = 0;
  virtual void SetCheck(int id, bool checked) = 0;
  virtual bool GetCheck(int id) const = 0;
  virtual void SetFocus(int id) = 0;
  virtual void SetAddress(int id, const IpEntry& address) = 0;
  virtual IpEntry GetAddress(int id) const = 0;
  virtual void SetFont(int id, FontRole role) = 0;
  // A rich-edit control's text, its first `boldCharacters` characters in bold. "\r\n", a bare
  // "\r" and a bare "\n" each end one line.
  virtual void SetRichText(int id, const std::string& text, int boldCharacters) = 0;
  // The control's text lies on the dark panel of the page's picture.
  virtual void SetOnPicture(int id) = 0;

  // The page's picture, the JPEG resource `pictureId`, at its stored size at the page's
  // top-left corner, below the controls. False when it cannot be loaded or decoded.
  virtual bool ShowPicture(int pictureId) = 0;

  // A list control shows `rows` (null: none). The page tells it of every change.
  virtual void SetListRows(int id, const ListRows* rows) = 0;
  virtual void ListRowsInserted(int id, int first, int count) = 0;
  virtual void ListRowChanged(int id, int row, int firstColumn, int lastColumn) = 0;
  // Every row may have changed or gone: the selection goes too.
  virtual void ListReset(int id) = 0;
  // The selected row, as `rows` number it; -1 when none.
  virtual int ListSelectedRow(int id) const = 0;

  // Services of the window.
  // Runs `task` on the user-interface thread; safe from any thread. Dropped once the page's
  // window is gone.
  virtual void Post(std::function<void()> task) = 0;
  // The page's OnTimer(timerId) every `milliseconds` until StopTimer; starting a running timer
  // starts it anew.
  virtual void StartTimer(int timerId, int milliseconds) = 0;
  virtual void StopTimer(int timerId) = 0;
  // A modal message box with an OK button.
  virtual void MessageBox(const std::string& title, const std::string& text, BoxIcon icon) = 0;
  // A folder the user picks, starting at `start`; none when the user cancels.
  virtual std::optional<std::string> ChooseFolder(const std::string& title,
                                                  const std::string& start) = 0;
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
};

// Keeps the wait cursor up for as long as it lives.
class WaitCursor {
 public:
  explicit WaitCursor(PageHost& host) : m_host(host) { m_host.BeginWaitCursor(); }
  ~WaitCursor() { m_host.EndWaitCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  PageHost& m_host;
};

}  // namespace quillnet
