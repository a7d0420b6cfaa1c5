#include "frm_contrast.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "qtio/host_text.h"

namespace kyr {

frmcontrast::frmcontrast(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmcontrast"));
    setWindowTitle(QStringLiteral("Adjust Background and Range"));
    setModal(true);

    Lblbackground = new QLabel(QStringLiteral("Enter Background:"), this);
    Lblbackground->setObjectName(QStringLiteral("Lblbackground"));
    txtbackground = new QLineEdit(this);
    txtbackground->setObjectName(QStringLiteral("txtbackground"));
    Lblbackground->setBuddy(txtbackground);

    lblrange = new QLabel(QStringLiteral("Enter Range:"), this);
    lblrange->setObjectName(QStringLiteral("lblrange"));
    txtrange = new QLineEdit(this);
    txtrange->setObjectName(QStringLiteral("txtrange"));
    lblrange->setBuddy(txtrange);

    cmddone = new QPushButton(QStringLiteral("Done"), this);
    cmddone->setObjectName(QStringLiteral("cmddone"));
    cmddone->setDefault(true);
    connect(cmddone, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Lblbackground, 0, 0);
    grid->addWidget(txtbackground, 0, 1);
    grid->addWidget(lblrange, 1, 0);
    grid->addWidget(txtrange, 1, 1);
    grid->addWidget(cmddone, 2, 1, Qt::AlignRight);
    txtbackground->setMinimumWidth(120);
}

void frmcontrast::edit(std::string& background, std::string& range) {
    txtbackground->setText(fromUiText(background));
    txtrange->setText(fromUiText(range));
    txtbackground->setFocus();
    txtbackground->selectAll();
    exec();  // Done accepts, the close box and Esc reject: each only hides the dialog
    background = toUiText(txtbackground->text());
    range = toUiText(txtrange->text());
}

}  // namespace kyr
