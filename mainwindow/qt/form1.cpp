#include "mainwindow/qt/form1.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTextOption>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <limits>
#include <utility>

#include "mainwindow/form_load.h"
#include "mainwindow/layout.h"

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// The start of `text` in UTF-8, at least `max` bytes of it where it has that many, without
// converting the rest: each UTF-16 unit makes one byte or more, and one unit more keeps a
// surrogate pair whole.
std::string Utf8Head(const QString& text, std::size_t max) {
    const auto units =
        max < static_cast<std::size_t>(text.size()) ? static_cast<qsizetype>(max) + 1 : text.size();
    return QStringView(text).left(units).toUtf8().toStdString();
}

// Qt reads "[*]" in a window title as the place of the document-modified mark, and "[*][*]"
// as the text "[*]"; doubling every one keeps written titles exactly as they were written.
QString AsWindowTitle(const std::string& text) {
    return FromUtf8(text).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

QString FromWindowTitle(QString title) {
    return title.replace(QStringLiteral("[*][*]"), QStringLiteral("[*]"));
}

QRect PixelsOf(const layout::Control& control, int dpi) {
    const layout::PixelRect r = layout::ToPixels(control, dpi);
    return {r.left, r.top, r.width, r.height};
}

// The face of the layout where it is installed, else the first of the fallbacks, else any
// proportional face with Japanese glyphs, so that no caption falls to a face without them.
QFont FormFont() {
    QStringList families{FromUtf8(layout::kFontFace)};
    for (std::string_view fallback : layout::kFontFallbacks) {
        families << FromUtf8(fallback);
    }
    QFont font;
    font.setFamilies(families);
    font.setPointSize(layout::kFontPoints);
    font.setWeight(QFont::Weight(layout::kFontWeight));
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);

    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    if (!japanese.contains(QFontInfo(font).family())) {
        QStringList proportional_first;
        for (const QString& family : japanese) {
            if (!QFontDatabase::isFixedPitch(family)) {
                proportional_first << family;
            }
        }
        for (const QString& family : japanese) {
            if (QFontDatabase::isFixedPitch(family)) {
                proportional_first << family;
            }
        }
        font.setFamilies(families + proportional_first);
    }
    return font;
}

// A label's text: plain (no markup, no mnemonics), centred, wrapped inside the rectangle, even
// within a word too long for a line, and clipped to it.
void PaintLabelText(QPainter& painter, const QRect& rect, const QString& text) {
    QTextOption option(Qt::AlignHCenter | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    painter.save();
    painter.setClipRect(rect);
    painter.drawText(QRectF(rect), text, option);
    painter.restore();
}

// A padlock filling `box`: a shackle over a solid body, in the text's colour.
void PaintLock(QPainter& painter, const QRect& box) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = painter.pen().color();
    const qreal stroke = std::max<qreal>(1.0, box.width() / 7.0);
    painter.setPen(QPen(ink, stroke));
    painter.setBrush(Qt::NoBrush);
    const QRectF shackle(box.left() + box.width() * 0.2, box.top() + stroke / 2, box.width() * 0.6,
                         box.height() * 0.6);
    painter.drawArc(shackle, 0, 180 * 16);
    painter.drawLine(shackle.bottomLeft() - QPointF(0, shackle.height() / 2),
                     QPointF(shackle.left(), box.top() + box.height() * 0.5));
    painter.drawLine(shackle.bottomRight() - QPointF(0, shackle.height() / 2),
                     QPointF(shackle.right(), box.top() + box.height() * 0.5));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawRect(
        QRectF(box.left(), box.top() + box.height() * 0.45, box.width(), box.height() * 0.55));
    painter.restore();
}

}  // namespace

Form1::Form1(WindowSystem& windows, TitleKeeping& keeping, OwnWindows& own_windows,
             TitleAccess& access)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      windows_(windows),
      keeping_(keeping),
      own_windows_(own_windows),
      access_(access),
      dpi_(qRound(screen()->logicalDotsPerInchY())),
      Text1(new QLineEdit(this)),
      Command1{new QPushButton(FromUtf8(layout::kWriteButton.initial_text), this),
               new QPushButton(FromUtf8(layout::kCaptureButton.initial_text), this)},
      Timer1(new QTimer(this)) {
    setWindowTitle(AsWindowTitle(std::string(layout::kCaption)));
    QIcon icon;
    for (const char* size : {"16", "32", "48"}) {
        icon.addFile(QString(":/icons/velmo-%1.png").arg(size));
    }
    setWindowIcon(icon);
    setFont(FormFont());
    setFixedSize(layout::TwipsToPixels(layout::kClientWidth, dpi_),
                 layout::TwipsToPixels(layout::kClientHeight, dpi_));
    // The position places the outer frame, as QWidget::move does for a window.
    move(layout::TwipsToPixels(layout::kFormLeft, dpi_),
         layout::TwipsToPixels(layout::kFormTop, dpi_));

    Text1->setGeometry(PixelsOf(layout::kText1, dpi_));
    Text1->setMaxLength(std::numeric_limits<int>::max());
    Text1->setFocusPolicy(Qt::StrongFocus);
    for (int index = 0; index < 2; ++index) {
        QPushButton* button = Command1[static_cast<std::size_t>(index)];
        button->setGeometry(
            PixelsOf(index == 0 ? layout::kWriteButton : layout::kCaptureButton, dpi_));
        // Not a tab stop: a button takes the focus only when it is clicked.
        button->setFocusPolicy(Qt::ClickFocus);
        button->setAutoDefault(false);
        button->installEventFilter(this);
        connect(button, &QPushButton::clicked, this,
                [this, index] { Command1_Click(windows_, TargetWindow, *this, index); });
    }
    // Named as the layout names them, and chained in the order of their tab indices; of them
    // only Text1 takes the focus from the Tab key.
    QWidget* previous = nullptr;
    for (const layout::Control* c : layout::InTabOrder()) {
        QWidget* control = c->kind == layout::Kind::Edit ? static_cast<QWidget*>(Text1)
                           : c->kind == layout::Kind::Button
                               ? Command1[static_cast<std::size_t>(c->index)]
                               : nullptr;  // painted by Form1
        if (control != nullptr) {
            control->setObjectName(FromUtf8(c->name));
            if (previous != nullptr) {
                setTabOrder(previous, control);
            }
            previous = control;
        }
    }
    Command1[0]->setDefault(true);
    Text1->installEventFilter(this);
    Text1->setFocus();

    Timer1->setInterval(layout::kTimerIntervalMs);
    connect(Timer1, &QTimer::timeout, this, [this] {
        Timer1_Timer(windows_, TargetWindow, *this);
        ShowMark();
    });
    DeclareOwnWindows();
}

void Form1::DeclareOwnWindows() {
    // winId() makes each of them a native window (and, with AA_DontCreateNativeWidgetSiblings
    // set, nothing else); the labels are painted by Form1 and have no window.
    own_windows_.DeclareOwnWindow(
        static_cast<HWND>(winId()),
        {[this](std::size_t max) { return Utf8Head(FromWindowTitle(windowTitle()), max); },
         [this](const std::string& text) { setWindowTitle(AsWindowTitle(text)); },
         [this] { repaint(); }});
    own_windows_.DeclareOwnWindow(
        static_cast<HWND>(Text1->winId()),
        {[this](std::size_t max) { return Utf8Head(Text1->text(), max); },
         [this](const std::string& text) { Text1->setText(FromUtf8(text)); },
         [this] { Text1->repaint(); }});
    // Other programs read a window's name from the server, so the buttons publish their
    // captions there too, as a button's window text is its caption everywhere.
    for (QPushButton* button : Command1) {
        const HWND window = static_cast<HWND>(button->winId());
        button->windowHandle()->setTitle(button->text());
        own_windows_.DeclareOwnWindow(
            window, {[button](std::size_t max) { return Utf8Head(button->text(), max); },
                     [button](const std::string& text) {
                         button->setText(FromUtf8(text));
                         button->windowHandle()->setTitle(button->text());
                     },
                     [button] { button->repaint(); }});
    }
}

void Form1::ShowAndLoad() {
    show();
    // Form_Load reads the outer rectangle and places the window there again, so it waits until
    // the window manager has put the frame around the window; without one it runs once mapped.
    // The backend tells from the events it reads, in the middle of whatever it does then: the
    // load runs from the event loop. A window manager that never finishes is waited for 2 s.
    own_windows_.WhenPlaced(static_cast<HWND>(winId()), [this] {
        QMetaObject::invokeMethod(this, &Form1::Load, Qt::QueuedConnection);
    });
    constexpr int kMostMs = 2000;
    QTimer::singleShot(kMostMs, this, &Form1::Load);
}

void Form1::Load() {
    if (std::exchange(loaded_, true)) {
        return;
    }
    Form_Load(windows_, static_cast<HWND>(winId()));
    Timer1->start();
}

std::string Form1::Label2Caption() const {
    return label2_caption_;
}

void Form1::SetLabel2Caption(const std::string& caption) {
    // Ten times a second the same text comes again; only a change needs painting.
    if (caption == label2_caption_) {
        return;
    }
    label2_caption_ = caption;
    update(PixelsOf(layout::kLabel2, dpi_));
}

std::optional<std::string> Form1::Text1Text() const {
    return ToUtf8(Text1->text());
}

void Form1::SetText1Text(const std::string& text) {
    Text1->setText(FromUtf8(text));
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QString label1 = FromUtf8(layout::kLabel1.initial_text);
    QRect label1_rect = PixelsOf(layout::kLabel1, dpi_);
    if (mark_ == Mark::Kept) {
        // A pin where the font has one, else words.
        constexpr char32_t kPin = 0x1F4CC;
        label1 += fontMetrics().inFontUcs4(kPin) ? QStringLiteral(" \U0001F4CC")
                                                 : QStringLiteral(" [keep]");
    } else if (mark_ == Mark::ReadOnly) {
        // A padlock, the desktop's sign of what cannot be written: the font's, else one drawn
        // after the caption, as words would not fit beside it.
        constexpr char32_t kLock = 0x1F512;
        if (fontMetrics().inFontUcs4(kLock)) {
            label1 += QStringLiteral(" \U0001F512");
        } else {
            const int height = fontMetrics().ascent();
            const int width = height * 4 / 5;
            const int room = fontMetrics().horizontalAdvance(QLatin1Char(' ')) + width;
            // The caption and the lock, centred together.
            label1_rect.adjust(-room / 2, 0, -room / 2 - room % 2, 0);
            const int caption_right =
                label1_rect.center().x() + fontMetrics().horizontalAdvance(label1) / 2;
            PaintLock(painter,
                      QRect(caption_right + room - width, label1_rect.top(), width, height));
        }
    }
    PaintLabelText(painter, label1_rect, label1);

    const QRect label2 = PixelsOf(layout::kLabel2, dpi_);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(label2.adjusted(0, 0, -1, -1));
    PaintLabelText(painter, label2.adjusted(1, 1, -1, -1), FromUtf8(label2_caption_));
}

void Form1::ClickCommand1(int index) {
    Command1[static_cast<std::size_t>(index)]->click();
}

void Form1::WriteAndKeep() {
    ::WriteAndKeep(windows_, keeping_, TargetWindow, *this);
    ShowMark();
}

void Form1::GiveBack() {
    ::GiveBack(keeping_, TargetWindow);
    ShowMark();
}

void Form1::ShowMark() {
    const Mark mark = keeping_.IsTitleKept(TargetWindow)     ? Mark::Kept
                      : !access_.CanWriteTitle(TargetWindow) ? Mark::ReadOnly
                                                             : Mark::None;
    if (mark != mark_) {
        mark_ = mark;
        update(PixelsOf(layout::kLabel1, dpi_));
    }
}

void Form1::keyPressEvent(QKeyEvent* event) {
    if (!ActOnKey(*event)) {
        QWidget::keyPressEvent(event);
    }
}

// Enter and Escape are taken before the control that holds the focus sees them: a focused
// default button would otherwise click itself on Enter whatever the modifiers, and Shift+Enter
// would only write.
bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && ActOnKey(*static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool Form1::ActOnKey(const QKeyEvent& event) {
    // Whichever control holds the focus, Enter writes and Escape captures; with Shift, Enter
    // writes and keeps, and Escape gives the title back.
    const bool shift = (event.modifiers() & Qt::ShiftModifier) != 0;
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            shift ? WriteAndKeep() : ClickCommand1(0);
            return true;
        case Qt::Key_Escape:
            shift ? GiveBack() : ClickCommand1(1);
            return true;
        default:
            return false;
    }
}
