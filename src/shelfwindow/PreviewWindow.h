#pragma once

// The preview window of a shelf: a borderless, keyboard-driven window that shows one file at a
// time (images scaled to fit with their orientation applied, a PDF a page at a time, the first
// part of a text file, or the icon, name, kind and size of anything else). The left and right
// arrow keys move between the files; up and down (and Page Up, Page Down, Home, End) move between
// a PDF's pages or scroll a text; Space or Esc closes it. Files are read in the background, so a
// large image or PDF never holds up the application.

#include <QAbstractSlider>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

namespace vyo {

class PreviewWindow : public QWidget
{
    Q_OBJECT
public:
    // What the window shows for the current file; none while it is still being read.
    enum class Kind { none, image, pdf, text, other };
    // What reading one file found (made in the background).
    struct Content;

    explicit PreviewWindow(QWidget *parent = nullptr);
    ~PreviewWindow() override;

    // Shows the files, starting at `startIndex` (the first file when the index is outside the
    // list), beside `anchor` when there is room and over it otherwise, and takes the keyboard.
    // An empty list closes the window.
    void open(const QList<QUrl> &urls, int startIndex, QWidget *anchor = nullptr);

    const QList<QUrl> &urls() const { return m_urls; }
    int count() const { return int(m_urls.size()); }
    // The file at the index; an empty URL outside the list.
    QUrl urlAt(int index) const;

    int currentIndex() const { return m_current; }
    // Moves to the file at the index; false, and nothing changes, outside the list.
    bool setCurrentIndex(int index);
    Kind shownKind() const { return m_shownKind; }

    // The PDF page shown (from 0) and how many the PDF has; 0 and 0 for anything else.
    int currentPage() const { return m_page; }
    int pageCount() const { return m_pageCount; }
    // Moves to a page of the PDF shown; false, and nothing changes, outside its pages or when no
    // PDF is shown. contentShown reports the page on screen.
    bool setCurrentPage(int page);

    // The largest picture the content area shows, in device pixels.
    QSize contentPixelSize() const;

Q_SIGNALS:
    void currentIndexChanged(int index);
    // The content of the file at the index is on screen.
    void contentShown(int index);
    // Space or Esc closed the window.
    void closedByKey();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void placeBeside(QWidget *anchor);
    // Shows the current file from its start.
    void loadCurrent();
    // Reads the current file (the current page of a PDF) in the background.
    void load();
    void display(const Content &content);
    void showDetails(const Content &content);
    void scrollText(QAbstractSlider::SliderAction action);

    QList<QUrl> m_urls;
    int m_current = -1;
    // Increases with every load; a finished load whose number is older is dropped.
    quint64 m_loadNumber = 0;
    Kind m_shownKind = Kind::none;
    int m_page = 0;
    int m_pageCount = 0;

    QLabel *m_title = nullptr;
    QLabel *m_position = nullptr;
    QLabel *m_subtitle = nullptr;
    QStackedWidget *m_stack = nullptr;
    QWidget *m_blank = nullptr;
    QLabel *m_picture = nullptr;
    QPlainTextEdit *m_text = nullptr;
    QWidget *m_details = nullptr;
    QLabel *m_detailIcon = nullptr;
    QLabel *m_detailName = nullptr;
    QLabel *m_detailKind = nullptr;
    QLabel *m_detailSize = nullptr;
};

} // namespace vyo
