#include "tarvodlg.h"

#include "csv_conversion.h"

void CTarvoDlg::ConvertToCsvKind1() {
  ConvertCapture(1);
}

void CTarvoDlg::ConvertToCsvKind2() {
  ConvertCapture(2);
}

void CTarvoDlg::ConvertCapture(int instrumentKind) {
  conversion = kvx::ConvertCapture(instrumentKind, displayMode, platform_, transfer_);
  if (conversion.end == kvx::ConversionEnd::CaptureNotOpened) {
    statusText.clear();
    platform_.ExchangeData(*this, DataDirection::ToControls);
  }
}
