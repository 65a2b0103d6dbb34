#include "tarvodlg.h"

#include "csv_conversion.h"

void CTarvoDlg::ConvertToCsvKind1() {
  ConvertCapture(1);
}

void CTarvoDlg::ConvertToCsvKind2() {
  ConvertCapture(2);
}

void CTarvoDlg::ConvertCapture(int instrumentKind) {
  conversion = kvx::ConvertCapture(instrumentKind, displayMode, ui_, files_, transfer_);
  if (conversion.end == kvx::ConversionEnd::CaptureNotOpened) {
    statusText.clear();
    ui_.ExchangeData(statusText, displayMode, DataDirection::ToControls);
  }
}
