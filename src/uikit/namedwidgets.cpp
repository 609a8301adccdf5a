#include "uikit/namedwidgets.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QStyle>

namespace {
class FocusOnShowFilter : public QObject {
  public:
    FocusOnShowFilter(QDialog* dialog, std::function<QWidget*()> field)
        : QObject(dialog), field_(std::move(field)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            QWidget* field = field_();
            field->setFocus(Qt::OtherFocusReason);
            if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
        }
        return false;
    }

  private:
    std::function<QWidget*()> field_;
};
}  // namespace

QLineEdit* DisplayOnly(QLineEdit* edit) {
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::NoFocus);
    return edit;
}

QHBoxLayout* CentredButtons(QPushButton* ok, QPushButton* cancel) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    return buttons;
}

void FocusOnShow(QDialog* dialog, QWidget* field) {
    FocusOnShow(dialog, [field] { return field; });
}

void FocusOnShow(QDialog* dialog, std::function<QWidget*()> field) {
    dialog->installEventFilter(new FocusOnShowFilter(dialog, std::move(field)));
}

QPushButton* OkButton(QDialog* dialog) {
    auto* button =
        new QPushButton(dialog->style()->standardIcon(QStyle::SP_DialogOkButton), "OK", dialog);
    button->setObjectName("BitBtn1");
    button->setDefault(true);
    return button;
}

QPushButton* CancelButton(QDialog* dialog) {
    auto* button = new QPushButton(dialog->style()->standardIcon(QStyle::SP_DialogCancelButton),
                                   "Cancel", dialog);
    button->setObjectName("BitBtn2");
    button->setAutoDefault(false);
    return button;
}

void MakeBandNameGroup(QDialog* dialog, const QString& numberLabel, QGroupBox*& GroupBox1,
                       QLabel*& Label1, QLineEdit*& NumberEdit, QLabel*& Label2,
                       QLineEdit*& NameEdit) {
    GroupBox1 = new QGroupBox(" Image Name ", dialog);
    GroupBox1->setObjectName("GroupBox1");
    Label1 = NamedLabel(numberLabel, "Label1", GroupBox1);
    NumberEdit = DisplayOnly(NamedEdit("NumberEdit", GroupBox1));
    Label2 = NamedLabel("Name ", "Label2", GroupBox1);
    NameEdit = DisplayOnly(NamedEdit("NameEdit", GroupBox1));
    auto* grid = new QGridLayout(GroupBox1);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(NumberEdit, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(NameEdit, 1, 1);
}
