// "Find instruments..." in a resource field's context menu: a dialog that
// searches the network (app/findinstruments.h) and lists what answered;
// the chosen resource goes into the field, whose geometry stays as it is.
#pragma once

#include "app/findinstruments.h"

#include <QDialog>
#include <QPointer>

#include <memory>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QThread;
class QTreeWidget;

// Shows the field's standard context menu with "Find instruments..." below
// it on a right click.
void AddFindInstrumentsEntry(QLineEdit *field);

// That menu, for the field; the caller owns it.
QMenu *FindInstrumentsMenu(QLineEdit *field);

class FindInstrumentsDialog : public QDialog
{
    Q_OBJECT

public:
    // Starts the first search at once.
    explicit FindInstrumentsDialog(QWidget *parent = nullptr);

    // The resource of the selected row; empty when none is selected.
    QString ChosenResource() const;
    bool Searching() const;

public slots:
    // Searches again, also asking the hosts typed into the dialog.
    void Search();

private slots:
    void ShowFound();
    void UndimUse();

private:
    QLineEdit *Hosts = nullptr;
    QPushButton *SearchAgain = nullptr;
    QTreeWidget *Found = nullptr;
    QLabel *Status = nullptr;
    QDialogButtonBox *Buttons = nullptr;
    // Filled by the search's thread, read once it has finished.
    std::shared_ptr<FindOutcome> Outcome;
    QPointer<QThread> Worker;
};
