// Preparing a report refreshes the embedded preview attached to it; a
// detached preview keeps what it showed.
#include "ReportTestSupport.h"

using namespace reporttest;

TEST(Preview, PreparingShowsTheNewPagesInTheAttachedPreviewOnly) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"));
  d.Report.LoadFromFile(Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3"));
  TfrxPreview preview;
  d.Report.SetPreview(&preview);
  d.Report.PrepareReport(true);
  ASSERT_GT(preview.PageCount(), 0);
  EXPECT_EQ(preview.PageCount(), static_cast<int>(d.Report.PreparedPages().size()));
  EXPECT_TRUE(preview.Pages()[0].Text().contains("D2023-0042"));

  // Detached: a new preparation leaves the preview as it was.
  d.Report.SetPreview(nullptr);
  preview.Clear();
  d.Report.PrepareReport(true);
  EXPECT_EQ(preview.PageCount(), 0);

  // The preview going away first is harmless.
  {
    TfrxPreview gone;
    d.Report.SetPreview(&gone);
  }
  EXPECT_NO_THROW(d.Report.PrepareReport(true));
}
