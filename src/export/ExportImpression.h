// The print manager's interactive export ("Exporter") and the fixed
// settings of the export filters that every rendering window uses.
#pragma once

class QWidget;

namespace tessaly {
namespace report {
class TfrxReport;
class TfrxPDFExport;
class TfrxCSVExport;
}  // namespace report

// The fixed settings of the print manager's filters, set once at
// construction (the batch exporter then switches its dialog and progress
// off).
void ConfigurationExportPdf(report::TfrxPDFExport& pdf);
void ConfigurationExportCsv(report::TfrxCSVExport& csv);

// btnExporterClick: asks for the kind of export in TFicheChoixExport, then
// exports the prepared pages of `report` through the matching filter, whose
// own dialog asks for the file. `window` is disabled meanwhile and enabled
// again in every case.
void ExportationInteractive(QWidget* window, report::TfrxReport& report, report::TfrxPDFExport& pdf,
                            report::TfrxCSVExport& csv);

}  // namespace tessaly
