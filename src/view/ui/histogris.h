#pragma once
#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>

#include "image/matrix.h"

struct DialogSeam;
class QFileDialog;
class QLabel;
class QPainter;
class QPushButton;
class QRect;
class QWidget;

// " HISTOGRAM": the gray-tone histogram of the current band, savable as a 256-line table.
class THistoGrisForm : public QDialog {
    Q_OBJECT
  public:
    THistoGrisForm(const DialogSeam* seam, QWidget* parent = nullptr);

    // The band drawn (set by the command before showing; null draws an empty histogram) and
    // the initial folder of the save dialog.
    const tessera::ByteMatrix* Pixels = nullptr;
    // Its pixels without data (1), left out of the counts; null or empty: none.
    const tessera::ByteMatrix* Nodata = nullptr;
    QString SaveDirectory;

    // Pixels per gray value, recomputed at every paint of the surface; what Save writes.
    std::array<int64_t, 256> Counts{};

    QWidget* PaintBox = nullptr;
    QPushButton* BitBtnOK = nullptr;
    QPushButton* BitBtnSave = nullptr;
    QFileDialog* SaveDialog1 = nullptr;

    // Recomputes the counts and draws the histogram on the exposed part of the surface.
    void PaintBoxPaint(QPainter& painter, const QRect& exposed);

  public slots:
    void BitBtnOKClick();
    void BitBtnSaveClick();

  signals:
    // The save has ended: the arrow cursor again.
    void SaveEnded();

  private:
    const DialogSeam* seam_;
};
