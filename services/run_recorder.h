#pragma once
// What a front end tells the journal about the runs of one engine: the images it loaded, a
// run's start and its end. Every call returns at once; the writer's thread looks up the USB
// device, hashes the images and writes the row. A station keeps one recorder per port.

#include <functional>
#include <memory>
#include <string>

#include "image/image_file.h"
#include "protocol/download_run.h"
#include "protocol/download_view.h"
#include "protocol/run_summary.h"
#include "services/image_digest.h"
#include "services/journal_writer.h"

namespace kestrel {

// What the front end knows when Run was pressed and accepted.
struct SRunSetup {
    int nPort = 0;                          // COM number; 0 when a device path was given directly
    std::string strDevicePath;              // the node, where it is known at Run; else the first opened
    int nDloadType = -1;                    // as the run goes, after loading adapted it
    const CImageFile* pNewImage = nullptr;
    const CImageFile* pOldImage = nullptr;  // recorded for COMPARE runs
    std::string strSlot{};                  // a station's slot; "" for the window
    std::string strSlotLabel{};
};

class CRunRecorder {
public:
    // strFrontEnd: "window", "cli" or "station". The writer outlives the recorder.
    CRunRecorder(CJournalWriter& writer, std::string strFrontEnd);

    // After each load of an image: its SHA-256 is taken once, not at every run.
    void OnImageLoaded(const CImageFile& image);
    void OnRunStarted(const SRunSetup& setup);
    // The run opened this device node: at its start, and again each time the handset came back.
    void OnPortOpened(const std::string& strNode);
    // Called on the writer's thread once the ended run's row is saved, or waits for the
    // journal: what the row holds then, and the row itself, for AddToRow (null for a run
    // whose start was never told).
    using RowSaved = std::function<void(const CJournalRow& row, std::shared_ptr<CJournalRow> pRow)>;
    void OnRunEnded(const SRunSummary& summary, const SRunStatistics& stats, RowSaved onSaved = nullptr);
    // Adds what was learnt after the run's end, such as how its after-unit command ended.
    void AddToRow(std::shared_ptr<CJournalRow> pRow, const CJournalRow& fields);

private:
    // Touched on the writer's thread only.
    struct SState {
        CImageDigests digests;
        std::shared_ptr<CJournalRow> pRow;  // between a run's start and its end
    };

    CJournalWriter& m_writer;
    const std::string m_strFrontEnd;
    std::shared_ptr<SState> m_pState = std::make_shared<SState>();
};

}  // namespace kestrel
