// The Sound Info dialog's procedure. The list and the fields are filled once,
// when the dialog opens; "Done" turns the rows' selection into the tracks'
// enabled flags and, if the playing track was disabled, moves playback on.
#include "dialogs/info_dialog.h"
#include "catalogue/track_entry.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "core/hand_over_lock.h"
#include "dialogs/resource_ids.h"
#include "dialogs/text_format.h"
#include "dialogs/track_list_view.h"

namespace {

constexpr int kTitleColumnPx = 274;
constexpr int kDurationColumnPx = 51;
constexpr UINT kRowStateMask = LVIS_FOCUSED | LVIS_SELECTED | LVIS_CUT | LVIS_DROPHILITED;

char remembered_file[kPathChars];

// The catalogue the dialog shows: the host's message loop runs on under the
// dialog, and may load another archive before the user is done.
struct ShownCatalogue {
    char archive[kPathChars];
    int tracks;
} shown;

bool HasCatalogue(const PlayerState& p) {
    return p.tracks && p.track_count > 0;
}

// The current track's record, or null when the catalogue has none.
TrackRecord* CurrentRecord(PlayerState& p) {
    int current = p.current_track;
    if (!HasCatalogue(p) || current < 0 || current >= p.track_count)
        return nullptr;
    return &p.tracks[current];
}

void SetField(HWND dialog, int id, const char* text) {
    SetWindowTextA(GetDlgItem(dialog, id), text);
}

// What the dialog opens when it is asked about `file`: nothing while a
// catalogue is loaded, except that a track entry asked about while nothing
// plays shows its own archive, with its track current.
bool NeedsOpening(PlayerState& p, const char* file) {
    if (p.track_count <= 0)
        return true;
    if (!ParseTrackEntry(file))
        return false;
    HandOverLock hold(p.hand_over, HandOverLock::Side::HostThread);
    return p.hand_over_state.phase() == handover::Phase::Idle;
}

INT_PTR OnInitDialog(PlayerState& p, HWND dialog, TrackListView& list) {
    const char* file = RememberedInfoFile();
    if (NeedsOpening(p, file) && p.OpenEntry(file)) {
        ShowWindow(dialog, SW_HIDE);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        return 1;
    }
    list.InsertColumn(0, "Song Description", kTitleColumnPx, LVCFMT_LEFT);
    list.InsertColumn(1, "Duration", kDurationColumnPx, LVCFMT_LEFT);
    lstrcpynA(shown.archive, p.archive_path, kPathChars);
    shown.tracks = p.track_count;
    if (!HasCatalogue(p))
        return 1; // an index without a whole record: nothing to list or show
    for (int j = 0; j < p.track_count; ++j) {
        TrackRecord& record = p.tracks[j];
        list.InsertRow(j, 0, record.title);
        list.SetCellText(j, 1, FormatDuration(record));
        list.SetRowState(j, IsEnabled(record) ? LVIS_SELECTED : 0, kRowStateMask);
    }
    if (const TrackRecord* current = CurrentRecord(p)) {
        SetField(dialog, IDC_PLAYING, current->title);
        SetField(dialog, IDC_FREQUENCY, FormatDecimal(current->sample_rate));
        SetField(dialog, IDC_DURATION, FormatDuration(*current));
    }
    // The sizes are unsigned; their fourfold may need more than 32 bits.
    std::uint64_t total = static_cast<std::uint32_t>(p.total_size);
    SetField(dialog, IDC_VOLUME_SIZE, FormatDecimal(total));
    SetField(dialog, IDC_UNCOMPRESSED, FormatDecimal(total * 4));
    return 1;
}

void ApplyChoice(PlayerState& p, TrackListView& list) {
    if (!HasCatalogue(p) || p.track_count != shown.tracks ||
        lstrcmpiA(p.archive_path, shown.archive) != 0)
        return;
    // The playback thread decides the next track under the same lock: it
    // sees the choice whole, before or after.
    HandOverLock hold(p.hand_over, HandOverLock::Side::HostThread);
    for (int j = 0; j < p.track_count; ++j)
        SetEnabled(p.tracks[j], list.GetRowState(j, LVIS_SELECTED) != 0);
    // With no current record there is no playing track to leave.
    TrackRecord* current = CurrentRecord(p);
    if (current && !IsEnabled(*current))
        p.ChangeFromDisabledTrack();
    else
        p.HandOverStep(handover::Event::Query); // the user acted: the host's loop turns
}

} // namespace

void RememberInfoFile(const char* file) {
    lstrcpynA(remembered_file, file ? file : "", kPathChars);
}

const char* RememberedInfoFile() {
    return remembered_file;
}

INT_PTR PlayerState::InfoDialogProc(HWND window, UINT message, WPARAM first, LPARAM) {
    TrackListView list(GetDlgItem(window, IDC_TRACK_LIST));
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(*this, window, list);
    case WM_COMMAND:
        switch (LOWORD(first)) {
        case IDC_DONE:
            ApplyChoice(*this, list);
            PostMessageA(window, WM_CLOSE, 0, 0);
            return 1;
        case IDC_CANCEL:
            PostMessageA(window, WM_CLOSE, 0, 0);
            return 1;
        case IDC_COOL:
            module->about(module->main_window);
            return 1;
        default:
            return 1; // Escape and every other command leave the dialog open
        }
    case WM_CLOSE:
        ShowWindow(window, SW_HIDE);
        EndDialog(window, 0);
        return 1;
    case WM_MOUSEACTIVATE:
        return 1;
    default:
        return 0;
    }
}

INT_PTR CALLBACK InfoDialogThunk(HWND window, UINT message, WPARAM first, LPARAM second) {
    return player_instance ? player_instance->InfoDialogProc(window, message, first, second) : 0;
}
