#pragma once
// frmcontrast, "Adjust Background and Range": loaded once, then only shown and hidden.

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kyr {

class frmcontrast : public QDialog {
    Q_OBJECT
  public:
    explicit frmcontrast(QWidget* parent = nullptr);

    // Shows the dialog modally with the given texts; on return they hold what the user left
    // in the boxes, whether it was hidden by Done, the close box or Esc.
    void edit(std::string& background, std::string& range);

    QLineEdit* txtbackground;
    QLineEdit* txtrange;
    QLabel* Lblbackground;
    QLabel* lblrange;
    QPushButton* cmddone;
};

}  // namespace kyr
