#include "options/programmedialog.h"

#include "options/programmemodel.h"
#include "platform/choosers.h"
#include "platform/filestore.h"
#include "programme/programmecsv.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// An empty cell's editor shows what the empty cell means (the plan's length, the planned start) as its
// placeholder, so clearing a cell says what it falls back to; titles and speakers stop at their limit.
class CellDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
        auto *line = qobject_cast<QLineEdit *>(editor);
        if (line && (index.column() == ProgrammeModel::TitleColumn || index.column() == ProgrammeModel::SpeakerColumn))
            line->setMaxLength(static_cast<int>(MaxTalkTextLength));
        return editor;
    }
    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        QStyledItemDelegate::setEditorData(editor, index);
        if (auto *line = qobject_cast<QLineEdit *>(editor)) {
            line->setPlaceholderText(index.data(ProgrammeModel::PlanRole).toBool() ? index.data().toString()
                                                                                   : QString());
            // Where the cell shows it, so the text does not jump when the editing starts.
            const QVariant alignment = index.data(Qt::TextAlignmentRole);
            if (alignment.isValid())
                line->setAlignment(Qt::Alignment(alignment.toInt()));
        }
    }
};

QPushButton *button(const QString &text, const char *name, const QString &accessibleName, QWidget *parent)
{
    auto *made = new QPushButton(text, parent);
    made->setObjectName(QLatin1String(name));
    made->setAccessibleName(accessibleName);
    // Enter means OK, wherever the focus is.
    made->setAutoDefault(false);
    return made;
}

// The bytes of a file for the import, at most one past the limit so that a larger file is told apart.
std::optional<QByteArray> readCsv(const QString &path, QString &why)
{
    // A FIFO would hold the open; a folder has no bytes.
    if (!QFileInfo(path).isFile()) {
        why = QFileInfo::exists(path) ? QStringLiteral("it is not a regular file")
                                      : QStringLiteral("there is no such file");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return std::nullopt;
    }
    QByteArray bytes = file.read(MaxProgrammeCsvBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        why = file.errorString();
        return std::nullopt;
    }
    return bytes;
}

QString talksText(std::size_t count)
{
    return count == 1 ? QObject::tr("1 talk") : QObject::tr("%1 talks").arg(count);
}

} // namespace

ProgrammeDialog::ProgrammeDialog(const Platform &platform, QWidget *parent)
    : QDialog(parent)
    , platform_(platform)
    , model_(new ProgrammeModel(this))
    , table_(new QTableView(this))
    , sessionStart_(new QLineEdit(this))
    , add_(button(tr("&Add"), "programmeAdd", tr("Add a talk after the chosen one"), this))
    , remove_(button(tr("&Remove"), "programmeRemove", tr("Remove the chosen talk"), this))
    , up_(button(tr("&Up"), "programmeUp", tr("Move the chosen talk up"), this))
    , down_(button(tr("Do&wn"), "programmeDown", tr("Move the chosen talk down"), this))
    , import_(button(tr("&Import CSV..."), "programmeImport", tr("Import the talks from a CSV file"), this))
    , export_(button(tr("&Export CSV..."), "programmeExport", tr("Export the talks to a CSV file"), this))
    , status_(new QLabel(this))
{
    setObjectName(QStringLiteral("programmeDialog"));
    setWindowTitle(tr("Programme"));
    setAccessibleName(tr("Programme"));

    table_->setObjectName(QStringLiteral("programmeTable"));
    table_->setAccessibleName(tr("Talks"));
    table_->setModel(model_);
    table_->setItemDelegate(new CellDelegate(table_));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::AnyKeyPressed);
    // The arrows move between cells; Tab leaves the table for the buttons.
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Delete empties the cell: a stage back to the plan's length, a start back to after the talk before.
    auto *clear = new QAction(tr("Clear"), table_);
    clear->setObjectName(QStringLiteral("programmeClearCell"));
    clear->setShortcut(QKeySequence::Delete);
    clear->setShortcutContext(Qt::WidgetShortcut);
    table_->addAction(clear);
    connect(clear, &QAction::triggered, this, [this] { model_->setData(table_->currentIndex(), QString()); });

    sessionStart_->setObjectName(QStringLiteral("programmeSessionStart"));
    sessionStart_->setAccessibleName(tr("Session starts at"));
    sessionStart_->setPlaceholderText(tr("none"));
    sessionStart_->setToolTip(tr("HH:MM, or empty for none: the first talk's start, unless it has its own"));
    sessionStart_->setMaxLength(8);
    sessionStart_->setMaximumWidth(sessionStart_->fontMetrics().horizontalAdvance(QStringLiteral("00:00 none")) + 24);
    auto *startLabel = new QLabel(tr("&Session starts at:"), this);
    startLabel->setObjectName(QStringLiteral("programmeSessionStartLabel"));
    startLabel->setBuddy(sessionStart_);
    auto *startHint = new QLabel(tr("HH:MM, or empty for none"), this);
    startHint->setObjectName(QStringLiteral("programmeSessionStartHint"));
    startHint->setEnabled(false);

    status_->setObjectName(QStringLiteral("programmeStatus"));
    status_->setAccessibleName(tr("Status"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("programmeButtons"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("programmeOk"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("programmeCancel"));

    auto *start = new QHBoxLayout;
    start->addWidget(startLabel);
    start->addWidget(sessionStart_);
    start->addWidget(startHint);
    start->addStretch();

    auto *side = new QVBoxLayout;
    for (QPushButton *b : {add_, remove_, up_, down_})
        side->addWidget(b);
    side->addStretch();
    side->addWidget(import_);
    side->addWidget(export_);

    auto *middle = new QHBoxLayout;
    middle->addWidget(table_, 1);
    middle->addLayout(side);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(start);
    layout->addLayout(middle, 1);
    layout->addWidget(status_);
    layout->addWidget(buttons);

    setTabOrder(sessionStart_, table_);
    setTabOrder(table_, add_);

    connect(add_, &QPushButton::clicked, this, &ProgrammeDialog::addTalk);
    connect(remove_, &QPushButton::clicked, this, &ProgrammeDialog::removeTalk);
    connect(up_, &QPushButton::clicked, this, [this] { moveTalk(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { moveTalk(1); });
    connect(import_, &QPushButton::clicked, this, &ProgrammeDialog::importCsv);
    connect(export_, &QPushButton::clicked, this, &ProgrammeDialog::exportCsv);
    connect(buttons, &QDialogButtonBox::accepted, this, &ProgrammeDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ProgrammeDialog::reject);
    connect(sessionStart_, &QLineEdit::editingFinished, this, &ProgrammeDialog::takeSessionStart);
    connect(model_, &ProgrammeModel::refusalChanged, this, &ProgrammeDialog::showStatus);
    connect(table_->selectionModel(), &QItemSelectionModel::currentChanged, this, &ProgrammeDialog::updateButtons);
    connect(model_, &QAbstractItemModel::rowsInserted, this, &ProgrammeDialog::updateButtons);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &ProgrammeDialog::updateButtons);
    connect(model_, &QAbstractItemModel::rowsMoved, this, &ProgrammeDialog::updateButtons);
    connect(model_, &QAbstractItemModel::modelReset, this, &ProgrammeDialog::updateButtons);
}

ProgrammeDialog::~ProgrammeDialog() = default;

void ProgrammeDialog::load(const Programme &programme, const ClockSetting &plan)
{
    model_->load(programme, plan);
    sessionStart_->setText(formatTimeOfDay(programme.sessionStart));
    QHeaderView *header = table_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ProgrammeModel::TitleColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(ProgrammeModel::SpeakerColumn, QHeaderView::Interactive);
    const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
    table_->resizeColumnToContents(ProgrammeModel::SpeakerColumn);
    header->resizeSection(ProgrammeModel::SpeakerColumn,
                          std::clamp(header->sectionSize(ProgrammeModel::SpeakerColumn), 10 * em, 20 * em));
    chooseRow(model_->currentRow(), ProgrammeModel::TitleColumn);
    // The table is what the dialog is for: the keys go there first, on the current talk's title.
    table_->setFocus();
    showStatus(QString());
    if (!sized_) {
        sized_ = true;
        // Room for a title of about thirty letters beside every other column, within the screen.
        int wanted = table_->verticalHeader()->sizeHint().width() + 30 * em + add_->sizeHint().width() * 2;
        for (int column = 0; column < model_->columnCount(); ++column) {
            if (column != ProgrammeModel::TitleColumn)
                wanted += header->sectionSize(column);
        }
        const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, wanted, 800);
        resize(std::min(wanted, screen.width() * 9 / 10),
               std::min(fontMetrics().height() * 30, screen.height() * 9 / 10));
    }
}

Programme ProgrammeDialog::programme() const
{
    return model_->programme();
}

Programme ProgrammeDialog::programmeOver(const Programme &latest) const
{
    return model_->programmeOver(latest);
}

QString ProgrammeDialog::status() const
{
    return status_->text();
}

void ProgrammeDialog::addTalk()
{
    const int row = chosenRow() < 0 ? model_->rowCount() : chosenRow() + 1;
    if (!model_->insertRows(row, 1)) {
        showStatus(tr("A programme has at most %1 talks.").arg(MaxTalks));
        return;
    }
    showStatus(QString());
    chooseRow(row, ProgrammeModel::TitleColumn);
    // Its title first: the new talk is most likely named next.
    table_->edit(table_->currentIndex());
}

void ProgrammeDialog::removeTalk()
{
    const int row = chosenRow();
    const int column = table_->currentIndex().column();
    if (row < 0 || !model_->removeRows(row, 1))
        return;
    showStatus(QString());
    chooseRow(std::min(row, model_->rowCount() - 1), column);
}

void ProgrammeDialog::moveTalk(int step)
{
    const int row = chosenRow();
    const int to = row + step;
    if (row < 0 || to < 0 || to >= model_->rowCount())
        return;
    // moveRows takes the row the moved one goes before.
    if (!model_->moveRows({}, row, 1, {}, step > 0 ? to + 1 : to))
        return;
    chooseRow(to, table_->currentIndex().column());
}

void ProgrammeDialog::importCsv()
{
    const FileOpenRequest request{csvFolder(), QStringLiteral(".csv"), tr("Import a Programme"), tr("CSV File (*.csv)"),
                                  QStringLiteral("*.csv")};
    const std::optional<QString> path = chooseFileOrSay(platform_.files, platform_.messages, this, request, false);
    if (!path)
        return;
    folder_ = QFileInfo(*path).absolutePath();
    QString why;
    const std::optional<QByteArray> bytes = readCsv(*path, why);
    if (!bytes) {
        platform_.messages.critical(this, applicationTitle(), tr("%1 could not be read: %2.").arg(*path, why));
        return;
    }
    ProgrammeCsvImport imported = importProgrammeCsv(*bytes, model_->plan());
    if (imported.error) {
        platform_.messages.critical(
            this, applicationTitle(),
            tr("Nothing was imported from %1: %2.").arg(QDir::toNativeSeparators(*path), imported.error->message()));
        return;
    }
    const std::size_t count = imported.talks.size();
    model_->replaceTalks(std::move(imported.talks));
    chooseRow(0, ProgrammeModel::TitleColumn);
    table_->setFocus();
    showStatus(tr("%1 imported from %2.").arg(talksText(count), QDir::toNativeSeparators(*path)));
}

void ProgrammeDialog::exportCsv()
{
    const FileSaveRequest request{csvFolder(), QStringLiteral(".csv"), tr("Export the Programme"),
                                  tr("CSV File (*.csv)"), QStringLiteral("*.csv")};
    const std::optional<QString> path = chooseFileOrSay(platform_.files, platform_.messages, this, request, true);
    if (!path)
        return;
    folder_ = QFileInfo(*path).absolutePath();
    const std::vector<Talk> talks = model_->programme().talks;
    if (const std::optional<QString> failure = replaceFile(*path, exportProgrammeCsv(talks, model_->plan()))) {
        platform_.messages.critical(this, applicationTitle(),
                                    tr("The programme was not exported to %1: %2.").arg(*path, *failure));
        return;
    }
    showStatus(tr("%1 exported to %2.").arg(talksText(talks.size()), *path));
}

void ProgrammeDialog::accept()
{
    if (!takeSessionStart()) {
        sessionStart_->setFocus();
        return;
    }
    QDialog::accept();
}

int ProgrammeDialog::chosenRow() const
{
    const QModelIndex current = table_->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void ProgrammeDialog::chooseRow(int row, int column)
{
    if (row < 0 || row >= model_->rowCount()) {
        table_->setCurrentIndex({});
        updateButtons();
        return;
    }
    const QModelIndex cell = model_->index(row, std::max(0, column));
    table_->setCurrentIndex(cell);
    table_->scrollTo(cell);
    updateButtons();
}

void ProgrammeDialog::updateButtons()
{
    const int row = chosenRow();
    const int count = model_->rowCount();
    add_->setEnabled(count < MaxTalks);
    remove_->setEnabled(row >= 0);
    up_->setEnabled(row > 0);
    down_->setEnabled(row >= 0 && row + 1 < count);
    export_->setEnabled(count > 0);
}

void ProgrammeDialog::showStatus(const QString &text)
{
    status_->setText(text);
}

bool ProgrammeDialog::takeSessionStart()
{
    const QString text = sessionStart_->text();
    const std::optional<QTime> start = parseTimeOfDay(text);
    if (!start && !blankTrimmed(text).isEmpty()) {
        showStatus(tr("\"%1\" is not a time of day: write the session's start as HH:MM, or leave it empty.").arg(text));
        return false;
    }
    if (start != model_->sessionStart()) {
        model_->setSessionStart(start);
        sessionStart_->setText(formatTimeOfDay(start));
    }
    return true;
}

QString ProgrammeDialog::csvFolder() const
{
    return QDir::toNativeSeparators(folder_.isEmpty() ? QDir::homePath() : folder_);
}
