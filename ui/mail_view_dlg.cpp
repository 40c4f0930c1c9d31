#include "ui/mail_view_dlg.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "accounts/file_name_chars.h"
#include "decode/charset.h"
#include "decode/date_size_text.h"
#include "decode/kanji_converter.h"
#include "mail/cache_io.h"
#include "mail/mail_entry.h"
#include "platform/profile.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "ui/images.h"
#include "ui/mail_text_view.h"

namespace wp {
namespace {

constexpr std::string_view kViewerSection = "WinPosition\\DlgRect";
constexpr std::string_view kMailSection = "Mail";
// The dialog's size in dialog units.
constexpr int kDialogWidth = 302;
constexpr int kDialogHeight = 313;
// The longest file name the file system takes, in bytes.
constexpr std::size_t kFileNameMax = 255;

QString Ui(const char* utf8) {
    return Cp932ToQString(Sjis(utf8));
}

// The header as the hidden header control shows it: one line break per
// line end. The MIME reading is UTF-8, so no character CP932 lacks is lost.
QString Display(std::string_view text, bool unicode) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A CR is never the second byte of a double-byte character.
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                continue;
            }
            lines += '\n';
            continue;
        }
        lines += text[i];
    }
    if (unicode) {
        return QString::fromUtf8(lines.data(), static_cast<qsizetype>(lines.size()));
    }
    return Cp932ToQString(lines);
}

// What a listed size may make the live text reserve in advance.
constexpr std::size_t kLiveReserveMax = 64u * 1024 * 1024;

// As often as the text control follows the live text.
constexpr int kReceivedRefreshMs = 50;

// A quarter of the average character width, an eighth of the height.
int UnitX(const QFontMetrics& metrics, int units) {
    const int sample =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int base = std::max(1, (sample / 26 + 1) / 2);
    return (units * base + 2) / 4;
}

int UnitY(const QFontMetrics& metrics, int units) {
    return (units * std::max(1, metrics.height()) + 4) / 8;
}

// The fixed-pitch sibling of a proportional face: "ＭＳ Ｐゴシック" gives
// "ＭＳ ゴシック", "IPAPGothic" gives "IPAGothic".
QString FixedPitchFace(const QString& face) {
    QString fixed = face;
    const QString wide = QString::fromUtf8(" Ｐ");
    if (int at = static_cast<int>(fixed.indexOf(wide)); at >= 0) {
        return fixed.remove(at, static_cast<int>(wide.size()));
    }
    if (int at = static_cast<int>(fixed.indexOf(QStringLiteral("PGothic"))); at >= 0) {
        return fixed.remove(at, 1);
    }
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

// The source-code buttons, in their order: control id, the code kept in
// "Encode" and passed to the conversion, text, object name.
struct CodeButton {
    int id;
    std::int32_t code;
    const char* text;
    const char* name;
};
constexpr CodeButton kCodeButtons[] = {
    {CMailViewDlg::kCodeAuto, -1, "自動", "codeAuto"},
    {CMailViewDlg::kCodeJis, 1, "JIS", "codeJis"},
    {CMailViewDlg::kCodeSjis, 0, "S-JIS", "codeSjis"},
    {CMailViewDlg::kCodeEuc, 2, "EUC", "codeEuc"},
    {CMailViewDlg::kCodeUtf8, KANJI_UTF8, "UTF-8", "codeUtf8"},
};

std::int32_t CodeOf(int id) {
    for (const CodeButton& button : kCodeButtons) {
        if (button.id == id) {
            return button.code;
        }
    }
    return -1;
}

// 0 (no button) for a code no button names.
int ButtonOf(std::int32_t code) {
    for (const CodeButton& button : kCodeButtons) {
        if (button.code == code) {
            return button.id;
        }
    }
    return 0;
}

QString ChooseSaveFile(QWidget* parent, const QString& proposedName) {
    // The folder of the last save, for the rest of the run.
    static QString folder = QDir::homePath();
    QFileDialog dialog(parent, Ui("メールの保存"));
    dialog.setObjectName(QStringLiteral("saveMailDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = {Ui("メール(*.eml)"), Ui("すべて(*.*)")};
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.front());
    dialog.setDefaultSuffix(QStringLiteral("eml"));
    dialog.setDirectory(folder);
    dialog.selectFile(proposedName);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    QString chosen = dialog.selectedFiles().front();
    folder = QFileInfo(chosen).absolutePath();
    return chosen;
}

}  // namespace

CMailViewDlg::CMailViewDlg(ViewerOwner& owner, Profile& profile, Prompt& prompt, QWidget* parent)
    : QDialog(parent), owner_(owner), profile_(profile), prompt_(prompt), saveChooser_(ChooseSaveFile) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setObjectName(QStringLiteral("140"));
    setWindowTitle(Ui("ビュー"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(AppIcon());
    if (QFontDatabase::families().contains(QStringLiteral("IPAPGothic"))) {
        setFont(QFont(QStringLiteral("IPAPGothic"), 9));
    }
    BuildControls();
    BuildMenu();
    receivedTimer_ = new QTimer(this);
    receivedTimer_->setSingleShot(true);
    connect(receivedTimer_, &QTimer::timeout, this, [this] { ShowPendingReceived(); });

    const int checked = ButtonOf(profile_.GetInt(kMailSection, "Encode", -1));
    if (QAbstractButton* button = codes_->button(checked)) {
        button->setChecked(true);
    }
    headerCheck_->setChecked(profile_.GetInt(kMailSection, "Head", 0) != 0);
    live_.Clear(headerCheck_->isChecked());
    text_->SetHeaderShown(headerCheck_->isChecked());
    const QFontMetrics metrics(font());
    resize(UnitX(metrics, kDialogWidth), UnitY(metrics, kDialogHeight));
    lower();
}

CMailViewDlg::~CMailViewDlg() {
    Finish();
}

QWidget* CMailViewDlg::Control(int id) const {
    const auto children = findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (child->property("controlId").toInt() == id) {
            return child;
        }
    }
    return nullptr;
}

QAction* CMailViewDlg::Command(int id) const {
    auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second;
}

void CMailViewDlg::BuildControls() {
    const QFontMetrics metrics(font());
    auto identify = [](QWidget* widget, int id, const char* name) {
        widget->setProperty("controlId", id);
        widget->setObjectName(QString::fromLatin1(name));
    };
    auto separator = [&](int id, const char* name, int height) {
        auto* line = new QFrame(this);
        identify(line, id, name);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        line->setFixedHeight(height);
        return line;
    };

    progress_ = new QProgressBar(this);
    identify(progress_, kProgress, "progress");
    progress_->setRange(0, kReceiveSteps);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(UnitX(metrics, 70));
    sizeBox_ = new QLineEdit(this);
    identify(sizeBox_, kSizeBox, "sizeBox");
    sizeBox_->setReadOnly(true);
    sizeBox_->setFocusPolicy(Qt::ClickFocus);
    sizeBox_->setFixedWidth(UnitX(metrics, 100));
    previous_ = new QPushButton(QStringLiteral("↑"), this);
    identify(previous_, kPrevious, "previousButton");
    previous_->setToolTip(Ui("前のﾒｰﾙ(Alt+←)"));
    next_ = new QPushButton(QStringLiteral("↓"), this);
    identify(next_, kNext, "nextButton");
    next_->setToolTip(Ui("次のﾒｰﾙ(Alt+→)"));
    for (QPushButton* arrow : {previous_, next_}) {
        arrow->setFixedWidth(UnitX(metrics, 18));
        arrow->setAutoDefault(false);
    }
    close_ = new QPushButton(Ui("閉じる"), this);
    identify(close_, kClose, "closeButton");
    close_->hide();
    cancel_ = new QPushButton(Ui("受信中止(&C)"), this);
    identify(cancel_, kCancel, "cancelButton");
    cancel_->setToolTip(Ui("受信ｷｬﾝｾﾙ"));
    cancel_->setAutoDefault(false);
    cancel_->setEnabled(false);

    auto* label = new QLabel(Ui("添付:"), this);
    identify(label, kAttachmentLabel, "attachmentLabel");
    attachments_ = new QListWidget(this);
    identify(attachments_, kAttachmentList, "attachmentList");
    attachments_->setViewMode(QListView::ListMode);
    attachments_->setFlow(QListView::TopToBottom);
    attachments_->setWrapping(true);
    attachments_->setResizeMode(QListView::Adjust);
    attachments_->setSelectionMode(QAbstractItemView::SingleSelection);
    attachments_->setIconSize(QSize(16, 16));
    attachments_->setFixedHeight(2 * std::max(18, metrics.height() + 4) + 2 * attachments_->frameWidth() + 2);
    label->setBuddy(attachments_);

    headerCheck_ = new QCheckBox(Ui("ヘッダも見る(&H)"), this);
    identify(headerCheck_, kHeaderCheck, "headerCheck");
    codes_ = new QButtonGroup(this);
    codes_->setExclusive(true);
    std::vector<QPushButton*> codeButtons;
    for (const CodeButton& code : kCodeButtons) {
        auto* button = new QPushButton(Ui(code.text), this);
        identify(button, code.id, code.name);
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setMinimumWidth(UnitX(metrics, 30));
        codes_->addButton(button, code.id);
        codeButtons.push_back(button);
    }

    QFont fixed(FixedPitchFace(font().family()));
    fixed.setPointSize(9);
    text_ = new CMailTextView(this);
    identify(text_, kText, "mailText");
    text_->setFont(fixed);
    headerText_ = new QPlainTextEdit(this);
    identify(headerText_, kHeaderText, "headerText");
    headerText_->setReadOnly(true);
    headerText_->setUndoRedoEnabled(false);
    headerText_->hide();

    // The text control and the attachment list follow the window's size;
    // everything else keeps its place.
    auto* top = new QHBoxLayout;
    top->addWidget(progress_);
    top->addWidget(sizeBox_);
    top->addStretch(1);
    top->addWidget(previous_);
    top->addWidget(next_);
    top->addSpacing(UnitX(metrics, 6));
    top->addWidget(cancel_);
    auto* files = new QHBoxLayout;
    files->addWidget(label, 0, Qt::AlignTop);
    files->addWidget(attachments_, 1);
    auto* options = new QHBoxLayout;
    options->addWidget(headerCheck_);
    options->addStretch(1);
    options->setSpacing(2);
    for (QPushButton* button : codeButtons) {
        options->addWidget(button);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(UnitX(metrics, 4), UnitY(metrics, 3), UnitX(metrics, 4), UnitY(metrics, 4));
    layout->setSpacing(UnitY(metrics, 3));
    layout->addLayout(top);
    layout->addWidget(separator(kSeparatorThin, "separatorThin", 2));
    layout->addLayout(files);
    layout->addWidget(separator(kSeparatorThick, "separatorThick", 3));
    layout->addLayout(options);
    layout->addWidget(text_, 1);

    connect(cancel_, &QPushButton::clicked, this, [this] { owner_.CancelOperation(); });
    connect(close_, &QPushButton::clicked, this, [this] { close(); });
    connect(headerCheck_, &QCheckBox::clicked, this, [this] { OnHeaderToggle(); });
    connect(codes_, &QButtonGroup::idClicked, this, [this](int id) { OnCodeChoice(CodeOf(id)); });
}

QAction* CMailViewDlg::MakeCommand(int id, const char* text, const QKeySequence& key) {
    auto* action = new QAction(Ui(text), this);
    if (!key.isEmpty()) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    action->setData(id);
    addAction(action);
    commands_[id] = action;
    return action;
}

void CMailViewDlg::BuildMenu() {
    auto* bar = new QMenuBar(this);
    QMenu* file = bar->addMenu(Ui("ﾌｧｲﾙ(&F)"));
    file->addAction(MakeCommand(kSaveCommand, "保存(&S)", QKeySequence(Qt::CTRL | Qt::Key_S)));
    QMenu* edit = file->addMenu(Ui("編集(&E)"));
    edit->addAction(
        MakeCommand(kSelectAllCommand, "すべて選択(&A)\tCtrl+A", QKeySequence(Qt::CTRL | Qt::Key_A)));
    file->addSeparator();
    file->addAction(MakeCommand(kClose, "閉じる(&C)", QKeySequence()));
    QMenu* operate = bar->addMenu(Ui("操作(&R)"));
    operate->addAction(MakeCommand(kPrevious, "前のメール\tAlt+←", QKeySequence(Qt::ALT | Qt::Key_Left)));
    operate->addAction(MakeCommand(kNext, "次のメール\tAlt+→", QKeySequence(Qt::ALT | Qt::Key_Right)));
    operate->addSeparator();
    QAction* source = MakeCommand(kSourceCommand, "ソース表示", QKeySequence());
    source->setCheckable(true);
    operate->addAction(source);
    layout()->setMenuBar(bar);

    Command(kSaveCommand)->setEnabled(false);
    connect(Command(kSaveCommand), &QAction::triggered, this, [this] { OnSave(); });
    connect(Command(kSelectAllCommand), &QAction::triggered, this, [this] { OnSelectAll(); });
    connect(Command(kClose), &QAction::triggered, this, [this] { close(); });
    connect(Command(kSourceCommand), &QAction::triggered, this, [this] { OnSource(); });
    // The keys work while receiving too: the frame stops the fetch first.
    connect(Command(kPrevious), &QAction::triggered, this, [this] { owner_.ShowPrevious(entry_); });
    connect(Command(kNext), &QAction::triggered, this, [this] { owner_.ShowNext(entry_); });
    connect(previous_, &QPushButton::clicked, Command(kPrevious), &QAction::trigger);
    connect(next_, &QPushButton::clicked, Command(kNext), &QAction::trigger);
}

// ---------------------------------------------------------------- commands

void CMailViewDlg::OnSelectAll() {
    text_->setFocus(Qt::ShortcutFocusReason);
    text_->selectAll();
}

QString CMailViewDlg::ProposedSaveName() const {
    const std::string name = Cp932ToUtf8(ReplaceFileNameCharsPerCharacter(subject_));
    static constexpr std::string_view kExtension = ".eml";
    return QString::fromStdString(TruncateUtf8(name, kFileNameMax - kExtension.size()) +
                                  std::string(kExtension));
}

void CMailViewDlg::Warn(const std::string& text) {
    PromptRequest box;
    box.text = text;
    box.caption = LoadString(57344);
    box.buttons = PromptButtons::Ok;
    box.icon = PromptIcon::Exclamation;
    prompt_.Ask(box);
}

void CMailViewDlg::OnSave() {
    if (mailFile_.Empty()) {
        return;
    }
    const QString target = saveChooser_ ? saveChooser_(this, ProposedSaveName()) : QString();
    if (target.isEmpty()) {
        return;
    }
    std::optional<std::string> stored = mailFile_.Read();
    if (!stored) {
        std::string text = Sjis("保存するﾒｰﾙを読めませんでした。\n");
        Warn(text + QStringToCp932Lossy(QString::fromStdString(mailFile_.Path())));
        return;
    }
    int error = 0;
    if (!ReplaceFileWith(QFile::encodeName(target).toStdString(), SavedMailBytes(*stored), &error)) {
        std::string text = Sjis("ﾒｰﾙを保存できませんでした。\n");
        Warn(text + QStringToCp932Lossy(target) + "\n" + cache_io::SystemErrorText(error));
    }
}

void CMailViewDlg::OnHeaderToggle() {
    const bool shown = headerCheck_->isChecked();
    profile_.SetInt(kMailSection, "Head", shown ? 1 : 0);
    text_->SetHeaderShown(shown);
    ShowHeaderText();
    text_->setFocus(Qt::OtherFocusReason);
}

void CMailViewDlg::OnCodeChoice(std::int32_t code) {
    profile_.SetInt(kMailSection, "Encode", code);
    text_->setFocus(Qt::OtherFocusReason);
    ShowStoredMail(code);
}

void CMailViewDlg::OnSource() {
    if (mailFile_.Empty()) {
        return;
    }
    ShowStoredMail(CheckedCode());
    text_->setFocus(Qt::OtherFocusReason);
}

namespace {

// The parts of a view, its texts moved, not copied.
MailTextParts PartsOf(MailView view, bool source) {
    if (!view.decoded || source) {
        return TakeMailTextParts(std::move(view.legacy));
    }
    MailTextParts parts;
    parts.unicode = true;
    parts.header = std::move(view.header);
    parts.body = std::move(view.body);
    return parts;
}

}  // namespace

void CMailViewDlg::ShowStoredMail(std::int32_t code) {
    sourcePending_ = false;
    std::optional<std::string> raw = mailFile_.Read();
    if (!raw) {
        return;
    }
    // The text shown goes first, so that its memory serves the new one.
    text_->Clear();
    if (Command(kSourceCommand)->isChecked()) {
        const std::int32_t legacyCode = code == KANJI_UTF8 ? KANJI_AUTO : code;
        ShowText(TakeMailTextParts(MailTextToShow(std::move(*raw), legacyCode)));
    } else {
        ShowText(PartsOf(ViewOfMail(std::move(*raw), code), false));
    }
}

void CMailViewDlg::ShowText(MailTextParts parts) {
    text_->SetHeaderShown(headerCheck_->isChecked());
    text_->SetText(std::move(parts.header), std::move(parts.body), parts.unicode, parts.bodyFrom);
    ShowHeaderText();
}

void CMailViewDlg::ShowHeaderText() {
    if (headerCheck_->isChecked()) {
        headerText_->clear();
    } else {
        headerText_->setPlainText(Display(text_->HeaderBytes(), text_->Unicode()));
    }
}

void CMailViewDlg::FinishLiveText() {
    if (!liveShown_) {
        return;
    }
    liveShown_ = false;
    text_->FinishAppending();
    if (live_.HeaderShown()) {
        // All of it went into the body; the header toggle needs it split.
        ShowText(TakeHeaderPart(text_->TakeBody()));
    } else if (!live_.HeaderDone() && !live_.Header().empty()) {
        // A receive cut short keeps the header it had seen, for the toggle.
        text_->SetHeader(live_.Header());
        ShowHeaderText();
    }
}

std::int32_t CMailViewDlg::CheckedCode() const {
    const int id = codes_->checkedId();
    return id < 0 ? -1 : CodeOf(id);
}

// ---------------------------------------------------------------- closing

void CMailViewDlg::reject() {
    close();
}

void CMailViewDlg::closeEvent(QCloseEvent* event) {
    owner_.CancelOperation();
    Finish();
    event->accept();
}

void CMailViewDlg::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    profile_.SetInt(kMailSection, "Head", headerCheck_->isChecked() ? 1 : 0);
    profile_.SetInt(kMailSection, "Encode", CheckedCode());
    const QRect rect = (isMaximized() || isMinimized()) ? normalGeometry() : QRect(pos(), size());
    profile_.SetInt(kViewerSection, "Top", rect.top());
    profile_.SetInt(kViewerSection, "Bottom", rect.top() + rect.height());
    profile_.SetInt(kViewerSection, "Left", rect.left());
    profile_.SetInt(kViewerSection, "Right", rect.left() + rect.width());
    mailFile_.Remove();
    owner_.ViewerClosed();
}

// ---------------------------------------------------------------- FrameViewer

void CMailViewDlg::SetEntry(MailEntry* entry) {
    entry_ = entry;
    subject_ = entry != nullptr ? entry->subject : std::string();
    size_ = entry != nullptr ? entry->size : 0;
    setWindowTitle(Cp932ToQString(subject_));
}

void CMailViewDlg::SetSizeText(const std::string& text) {
    sizeText_ = text;
    sizeBox_->setText(Cp932ToQString(text));
}

void CMailViewDlg::ResetProgress() {
    receivedTimer_->stop();
    receivedPending_.reset();
    // A new receive shows its first step at once.
    receivedShown_.invalidate();
    progress_->setRange(0, kReceiveSteps);
    progress_->setValue(0);
}

void CMailViewDlg::BeginReceive() {
    ClearAttachments();
    ClearMailText();
    // The fetch waits for this call; the last mail's file, megabytes for
    // the system to free, goes a moment later, or with this window.
    struct Dropped {
        StoredMail mail;
        ~Dropped() { mail.Remove(); }
    };
    auto dropped = std::make_shared<Dropped>();
    dropped->mail = std::exchange(mailFile_, StoredMail());
    QTimer::singleShot(0, this, [dropped] { dropped->mail.Remove(); });
    SetMailFile(StoredMail());
    previous_->setEnabled(false);
    next_->setEnabled(false);
    headerCheck_->setEnabled(false);
    cancel_->setEnabled(true);
}

void CMailViewDlg::EndReceive() {
    ShowPendingReceived();
    cancel_->setEnabled(false);
    previous_->setEnabled(true);
    next_->setEnabled(true);
    headerCheck_->setEnabled(true);
    FinishLiveText();
    unsetCursor();
}

void CMailViewDlg::PostClose() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void CMailViewDlg::SetStatusText(const std::string& text) {
    ShowPendingReceived();
    sizeBox_->setText(Cp932ToQString(text.empty() ? sizeText_ : text));
}

void CMailViewDlg::ClearMailText() {
    liveShown_ = false;
    sourcePending_ = false;
    live_.Clear(headerCheck_->isChecked());
    text_->Clear();
    text_->SetHeaderShown(headerCheck_->isChecked());
    headerText_->clear();
}

void CMailViewDlg::AppendReceivedText(const char* chunk, std::size_t length, int bytesReceived) {
    const std::string current =
        receivedPending_ ? receivedPending_->text : QStringToCp932Lossy(sizeBox_->text());
    ShowReceived(ReceivedSizeText(static_cast<std::uint32_t>(std::max(bytesReceived, 0)), size_, current));

    const bool headerWasDone = live_.HeaderDone();
    std::string_view add = live_.Append(std::string_view(chunk, length));
    liveShown_ = true;
    if (!headerWasDone && live_.HeaderDone()) {
        text_->SetHeader(live_.Header());
        ShowHeaderText();
    }
    if (add.empty()) {
        return;
    }
    if (text_->BodyBytes().empty()) {
        // Grown chunk by chunk, a mail of megabytes would be copied over and over.
        text_->ReserveBody(std::min<std::size_t>(size_, kLiveReserveMax));
    }
    text_->AppendBody(add);
}

void CMailViewDlg::ShowReceived(const ReceivedSizeView& shown) {
    receivedPending_ = shown;
    if (!receivedShown_.isValid() || receivedShown_.elapsed() >= kReceivedRefreshMs) {
        ShowPendingReceived();
    } else if (!receivedTimer_->isActive()) {
        receivedTimer_->start(kReceivedRefreshMs - static_cast<int>(receivedShown_.elapsed()));
    }
}

void CMailViewDlg::ShowPendingReceived() {
    receivedTimer_->stop();
    if (!receivedPending_) {
        return;
    }
    sizeBox_->setText(Cp932ToQString(receivedPending_->text));
    progress_->setValue(receivedPending_->position);
    receivedPending_.reset();
    receivedShown_.start();
}

void CMailViewDlg::SetMailFile(const StoredMail& mail) {
    if (!mailFile_.SameAs(mail)) {
        mailFile_.Remove();
    }
    mailFile_ = mail;
    Command(kSaveCommand)->setEnabled(!mailFile_.Empty());
    if (sourcePending_ && !mailFile_.Empty()) {
        ShowStoredMail(CheckedCode());
    }
}

void CMailViewDlg::SetWaitCursor(bool on) {
    if (on) {
        // The fetch has the whole mail and converts it; the converted text
        // replaces the live one in a moment, and the live text out of view
        // would only double the memory a large mail takes meanwhile.
        if (liveShown_) {
            text_->DropBelowView();
        }
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void CMailViewDlg::ClearAttachments() {
    attachments_->clear();
}

void CMailViewDlg::AddAttachment(const std::string& name) {
    attachments_->addItem(new QListWidgetItem(AttachmentIcon(), Cp932ToQString(name)));
}

void CMailViewDlg::ShowMailText(MailView view) {
    // The new text is made already: the live one is simply replaced, in
    // one step, without an empty control (and its scroll bars) in between.
    liveShown_ = false;
    live_.Clear(headerCheck_->isChecked());
    const bool source = Command(kSourceCommand)->isChecked();
    // A decoded view may come without the source text: that is read again
    // from the stored mail, which the fetch hands over next.
    sourcePending_ = source && view.decoded && view.legacy.empty();
    ShowText(PartsOf(std::move(view), source && !sourcePending_));
}

}  // namespace wp
