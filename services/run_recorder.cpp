#include "services/run_recorder.h"

#include <QDateTime>
#include <filesystem>

#include "image/download_type.h"
#include "services/fleet_settings.h"
#include "services/usb_identity.h"

namespace kestrel {
namespace {

using enum JournalField;

JournalValue TextOrNull(std::string strText) { return strText.empty() ? JournalValue() : JournalValue(std::move(strText)); }

// Days later the working folder of the run is long forgotten.
std::string Absolute(const std::string& strPath)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(strPath, error);
    return error ? strPath : path.lexically_normal().string();
}

std::string NowUtc() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString(); }

void SetUsbIdentity(CJournalRow& row, const std::optional<SUsbIdentity>& optUsb)
{
    if (!optUsb) return;
    row.Set(UsbSerial, TextOrNull(optUsb->strSerial));
    row.Set(UsbVendorId, TextOrNull(optUsb->strVendorId));
    row.Set(UsbProductId, TextOrNull(optUsb->strProductId));
}

}  // namespace

CRunRecorder::CRunRecorder(CJournalWriter& writer, std::string strFrontEnd)
    : m_writer(writer), m_strFrontEnd(std::move(strFrontEnd))
{
}

void CRunRecorder::OnImageLoaded(const CImageFile& image)
{
    if (!image.IsLoaded()) return;
    m_writer.Post([pState = m_pState, strPath = image.Path()] { pState->digests.Update(strPath); });
}

void CRunRecorder::OnRunStarted(const SRunSetup& setup)
{
    CJournalRow row;
    row.Set(StartedAt, NowUtc());
    row.Set(FrontEnd, m_strFrontEnd);
    row.Set(StationName, ThisStationName());
    if (setup.nPort > 0) row.Set(Port, int64_t{setup.nPort});
    row.Set(Device, TextOrNull(setup.strDevicePath));
    row.Set(Slot, TextOrNull(setup.strSlot));
    row.Set(SlotLabel, TextOrNull(setup.strSlotLabel));
    if (setup.nDloadType >= 0 && setup.nDloadType < kDownloadTypeCount)
        row.Set(JournalField::DownloadType, std::string(kDownloadTypeNames[static_cast<std::size_t>(setup.nDloadType)]));
    std::string strImage, strOldImage;
    if (setup.pNewImage != nullptr && setup.pNewImage->IsLoaded()) {
        strImage = setup.pNewImage->Path();
        row.Set(Image, Absolute(strImage));
        row.Set(ImageSize, int64_t{setup.pNewImage->Size()});
        row.Set(ImageVersion, setup.pNewImage->VersionText());
    }
    if (setup.nDloadType == DLOAD_COMPARE_EMERGENCY && setup.pOldImage != nullptr && setup.pOldImage->IsLoaded()) {
        strOldImage = setup.pOldImage->Path();
        row.Set(OldImage, Absolute(strOldImage));
    }
    row.Set(Outcome, std::string(kOutcomeRunning));

    m_writer.Post([&writer = m_writer, pState = m_pState, row, strImage, strOldImage, strDevice = setup.strDevicePath]() mutable {
        if (!strDevice.empty()) SetUsbIdentity(row, LookUpUsbIdentity(strDevice));
        if (!strImage.empty()) row.Set(ImageSha256, TextOrNull(pState->digests.Find(strImage)));
        if (!strOldImage.empty()) row.Set(OldImageSha256, TextOrNull(pState->digests.Find(strOldImage)));
        pState->pRow = std::make_shared<CJournalRow>(std::move(row));
        writer.SaveRow(pState->pRow);
    });
}

void CRunRecorder::OnPortOpened(const std::string& strNode)
{
    m_writer.Post([&writer = m_writer, pState = m_pState, strNode] {
        if (!pState->pRow) return;
        CJournalRow& row = *pState->pRow;
        const std::optional<SUsbIdentity> optUsb = LookUpUsbIdentity(strNode);
        // The first node of a slot's run is its device, as a port's is.
        if (row.Text(Device).empty()) {
            row.Set(Device, strNode);
            SetUsbIdentity(row, optUsb);
        }
        std::string strOpened = row.Text(Opened);
        strOpened += (strOpened.empty() ? "" : "; ") + strNode;
        if (optUsb && !optUsb->strSerial.empty()) strOpened += " [" + optUsb->strSerial + "]";
        row.Set(Opened, strOpened);
        writer.SaveRow(pState->pRow);
    });
}

void CRunRecorder::OnRunEnded(const SRunSummary& summary, const SRunStatistics& stats, RowSaved onSaved)
{
    CJournalRow end;
    end.Set(EndedAt, NowUtc());
    end.Set(Outcome, std::string(OutcomeName(summary.eOutcome)));
    end.Set(Retransmissions, int64_t{stats.nRetransmissions});
    end.Set(SupervisionExpiries, int64_t{stats.nSupervisionExpiries});
    end.Set(BlocksSent, int64_t{stats.nBlocksSent});
    end.Set(BytesWritten, static_cast<int64_t>(stats.qwBytesWritten));
    end.Set(DurationMs, summary.nDurationMs);
    if (summary.nDurationMs > 0) end.Set(BytesPerSecond, summary.nBytesPerSecond);
    end.Set(LastRedLine, TextOrNull(stats.strLastRedLine));

    m_writer.Post([&writer = m_writer, pState = m_pState, end, onSaved = std::move(onSaved)] {
        if (!pState->pRow) {
            if (onSaved) onSaved(end, nullptr);
            return;
        }
        pState->pRow->Merge(end);
        writer.SaveRow(pState->pRow);
        if (onSaved) onSaved(*pState->pRow, pState->pRow);
        // The next run starts a row of its own; this one may still wait in the writer.
        pState->pRow.reset();
    });
}

void CRunRecorder::AddToRow(std::shared_ptr<CJournalRow> pRow, const CJournalRow& fields)
{
    if (!pRow) return;
    m_writer.Post([&writer = m_writer, pRow = std::move(pRow), fields] {
        pRow->Merge(fields);
        writer.SaveRow(pRow);
    });
}

}  // namespace kestrel
