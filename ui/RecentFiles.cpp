#include "RecentFiles.h"

void TRecentFiles::Add(std::int32_t position) {
    if (!Items.empty() && Items.back() == position) return;
    if (Items.size() >= kMaxItems) Items.erase(Items.begin());
    // Appended whatever the current position: the list keeps every visit.
    Items.push_back(position);
    Index = static_cast<std::int32_t>(Items.size()) - 1;
    CanBack = Index > 0;
    CanForward = false;
}

void TRecentFiles::UpdateFlags() {
    CanBack = Index > 0;
    CanForward = Index >= 0 && Index < static_cast<std::int32_t>(Items.size()) - 1;
}

void TRecentFiles::Back(std::int32_t& position) {
    if (Items.empty()) {
        position = -1;
        return;
    }
    // A non-empty list was last changed by Add, so Index lies inside it.
    if (Index > 0) --Index;
    position = Items[static_cast<std::size_t>(Index)];
    UpdateFlags();
}

void TRecentFiles::Forward(std::int32_t& position) {
    if (Items.empty()) {
        position = -1;
        return;
    }
    if (Index < static_cast<std::int32_t>(Items.size()) - 1) ++Index;
    position = Items[static_cast<std::size_t>(Index)];
    UpdateFlags();
}

void TRecentFiles::Clear() {
    // Index and the flags stay; the next Add sets them.
    Items.clear();
}
