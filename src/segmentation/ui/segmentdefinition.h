#pragma once
#include <QDialog>
#include <QString>
#include <vector>

struct DialogSeam;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// " Segment Definition ": asks the upper limit of one segment of a Definition band.
class TSegmentDefinitionForm : public QDialog {
    Q_OBJECT
  public:
    TSegmentDefinitionForm(const DialogSeam* seam, QWidget* parent = nullptr);

    // One dialog per segment k = 1..count; answers the typed upper limits (index 0 = segment 1).
    std::vector<int> AskUpperLimits(int band, const QString& name, int count, int minGray,
                                    int maxGray);

    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* NumberEdit = nullptr;
    QLineEdit* NameEdit = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLineEdit* SegmNumberEdit = nullptr;
    QLineEdit* DSMinEdit = nullptr;
    QLineEdit* DSMaxEdit = nullptr;
    QLineEdit* MinValEdit = nullptr;
    QLineEdit* MaxValEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QLabel* Label1 = nullptr;  // "Number "
    QLabel* Label2 = nullptr;  // "Name "
    QLabel* Label3 = nullptr;  // "Segment Number"
    QLabel* Label4 = nullptr;  // "Dynamic Scale"
    QLabel* Label5 = nullptr;  // "__" between the two ends of the dynamic scale
    QLabel* Label6 = nullptr;  // "Min. Value"
    QLabel* Label7 = nullptr;  // "Max. Value "

  private:
    const DialogSeam* seam_;
};
