#include "app/findinstrumentsdialog.h"
#include "app/fixedcontrol.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

namespace {

QString Tr(const char *text)
{
    return QCoreApplication::translate("FindInstrumentsDialog", text);
}

void FindFor(QLineEdit *field)
{
    FindInstrumentsDialog dialog(field->window());
    if (dialog.exec() != QDialog::Accepted || dialog.ChosenResource().isEmpty())
        return;
    // As typed: the change can be undone in the field.
    field->selectAll();
    field->insert(dialog.ChosenResource());
}

} // namespace

QMenu *FindInstrumentsMenu(QLineEdit *field)
{
    QMenu *menu = field->createStandardContextMenu();
    menu->addSeparator();
    QAction *find = menu->addAction(QCoreApplication::translate("MainWindow", "Find instruments..."));
    find->setObjectName(QStringLiteral("FindInstruments"));
    QObject::connect(find, &QAction::triggered, field, [field] { FindFor(field); });
    return menu;
}

void AddFindInstrumentsEntry(QLineEdit *field)
{
    field->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(field, &QWidget::customContextMenuRequested, field, [field](const QPoint &at) {
        std::unique_ptr<QMenu> menu(FindInstrumentsMenu(field));
        menu->exec(field->mapToGlobal(at));
    });
}

FindInstrumentsDialog::FindInstrumentsDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FindInstrumentsDialog"));
    setWindowTitle(Tr("Find Instruments"));
    setFixedSize(480, 262);
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);

    QLabel *alsoAsk = MakeControl<QLabel>(this, "AlsoAsk", 10, 12, 50, 16);
    alsoAsk->setText(Tr("Also ask:"));
    Hosts = MakeControl<QLineEdit>(this, "Hosts", 60, 10, 300, 20);
    Hosts->setPlaceholderText(Tr("hosts or subnets, e.g. 10.0.0.5 192.168.7.0/24"));
    alsoAsk->setBuddy(Hosts);
    SearchAgain = MakeControl<QPushButton>(this, "SearchAgain", 370, 9, 100, 22);
    SearchAgain->setText(Tr("Search"));
    Found = MakeControl<QTreeWidget>(this, "Found", 10, 40, 460, 172);
    Found->setHeaderLabels({Tr("Resource"), Tr("Instrument")});
    Found->setRootIsDecorated(false);
    Found->header()->resizeSection(0, 210);
    Status = MakeControl<QLabel>(this, "Status", 10, 228, 270, 16);
    Buttons = MakeControl<QDialogButtonBox>(this, "Buttons", 290, 222, 180, 28);
    Buttons->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    Buttons->button(QDialogButtonBox::Ok)->setText(Tr("Use"));

    connect(SearchAgain, &QPushButton::clicked, this, &FindInstrumentsDialog::Search);
    connect(Hosts, &QLineEdit::returnPressed, this, &FindInstrumentsDialog::Search);
    connect(Found, &QTreeWidget::itemSelectionChanged, this, &FindInstrumentsDialog::UndimUse);
    connect(Found, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    Search();
}

QString FindInstrumentsDialog::ChosenResource() const
{
    const QList<QTreeWidgetItem *> chosen = Found->selectedItems();
    return chosen.isEmpty() ? QString() : chosen.first()->text(0);
}

bool FindInstrumentsDialog::Searching() const
{
    return !Worker.isNull();
}

void FindInstrumentsDialog::Search()
{
    if (Searching())
        return;
    FindRequest request;
    request.hosts = Hosts->text().split(QRegExp(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    const QString problem = request.hosts.isEmpty() ? QString() : HostsProblem(request.hosts);
    if (!problem.isEmpty()) {
        Status->setText(problem);
        return;
    }
    Found->clear();
    Status->setText(Tr("Searching..."));
    auto outcome = std::make_shared<FindOutcome>();
    Outcome = outcome;
    // The search takes its whole time-out: off the window's thread. The
    // thread object deletes itself, also when the dialog is gone first.
    Worker = QThread::create([outcome, request] { *outcome = FindInstruments(request); });
    connect(Worker, &QThread::finished, this, &FindInstrumentsDialog::ShowFound);
    connect(Worker, &QThread::finished, Worker, &QObject::deleteLater);
    SearchAgain->setEnabled(false);
    UndimUse();
    Worker->start();
}

void FindInstrumentsDialog::ShowFound()
{
    Worker = nullptr; // finished: deletes itself
    const FindOutcome &outcome = *Outcome;
    for (const FoundInstrument &f : outcome.found) {
        const QString about = f.identity.isEmpty() ? QStringLiteral("(%1)").arg(f.problem) : f.identity;
        auto *item = new QTreeWidgetItem(Found, {f.resource, about});
        item->setToolTip(1, about);
    }
    if (!outcome.error.isEmpty())
        Status->setText(outcome.error);
    else if (outcome.found.isEmpty())
        Status->setText(Tr("Nothing answered."));
    else
        Status->setText(Tr("Resources found: %1.").arg(outcome.found.size()));
    SearchAgain->setEnabled(true);
    UndimUse();
}

void FindInstrumentsDialog::UndimUse()
{
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(!Searching() && !ChosenResource().isEmpty());
}
