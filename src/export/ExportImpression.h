// The print manager's interactive export ("Exporter") and the fixed
// settings of the export filters that every rendering window uses.
#pragma once

#include <functional>

class QWidget;

namespace tessaly {
namespace report {
class TfrxReport;
class TfrxPDFExport;
class TfrxCSVExport;
}  // namespace report

class TFicheChoixExport;

// The fixed settings of the print manager's filters, set once at
// construction (the batch exporter then switches its dialog and progress
// off).
void ConfigurationExportPdf(report::TfrxPDFExport& pdf);
void ConfigurationExportCsv(report::TfrxCSVExport& csv);

// btnExporterClick: asks for the kind of export in TFicheChoixExport, then
// exports the prepared pages of `report` through the matching filter, whose
// own dialog asks for the file. `window` is disabled meanwhile and enabled
// again in every case; export errors are shown as a message.
//
// CSV: the page "Page1" has its `DataOnly` option switched on for the
// export (only the rows of the data bands are written) and back to its
// former state afterwards; a template without that page exports all its
// rows. PDF: the file is opened afterwards when the dialog asked for it.
void ExportationInteractive(QWidget* window, report::TfrxReport& report, report::TfrxPDFExport& pdf,
                            report::TfrxCSVExport& csv);

// How the choice dialog is shown: modally by default; unattended (no user
// to answer) it is left as if closed without OK. Tests replace it to answer
// the dialog through its controls; an empty function restores the default.
using TChoixExportRunner = std::function<void(TFicheChoixExport&)>;
void SetChoixExportRunner(TChoixExportRunner runner);

}  // namespace tessaly
