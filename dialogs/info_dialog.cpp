// The Sound Info dialog's procedure. The list and the fields are filled once,
// when the dialog opens; "Done" turns the rows' selection into the tracks'
// enabled flags and, if the playing track was disabled, moves playback on.
#include "dialogs/info_dialog.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "decoder/stream_reader.h"
#include "dialogs/resource_ids.h"
#include "dialogs/text_format.h"
#include "dialogs/track_list_view.h"

#include <atomic>

namespace {

constexpr int kTitleColumnPx = 274;
constexpr int kDurationColumnPx = 51;
constexpr UINT kRowStateMask = LVIS_FOCUSED | LVIS_SELECTED | LVIS_CUT | LVIS_DROPHILITED;

char remembered_file[kPathChars];

// The playback thread reads the flags (NextEnabledTrack) while "Done"
// rewrites them on the host's thread.
std::uint8_t LoadFlags(TrackRecord& record) {
    return std::atomic_ref<std::uint8_t>(record.flags).load();
}

bool IsEnabled(TrackRecord& record) {
    return LoadFlags(record) & kTrackEnabled;
}

// Only the host's thread writes the flags, so reading and then storing loses
// nothing; the store itself is one atomic step.
void StoreEnabled(TrackRecord& record, bool enabled) {
    std::uint8_t flags = LoadFlags(record) & ~(kTrackEnabled | kTrackFlagsApplied);
    if (enabled)
        flags |= kTrackEnabled;
    std::atomic_ref<std::uint8_t>(record.flags).store(flags);
}

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

bool PlaybackThreadExists(const PlayerState& p) {
    return p.thread != NO_THREAD && p.thread != nullptr;
}

void SetField(HWND dialog, int id, const char* text) {
    SetWindowTextA(GetDlgItem(dialog, id), text);
}

INT_PTR OnInitDialog(PlayerState& p, HWND dialog, TrackListView& list) {
    if (p.track_count <= 0 && p.OpenArchive(RememberedInfoFile())) {
        ShowWindow(dialog, SW_HIDE);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        return 1;
    }
    list.InsertColumn(0, "Song Description", kTitleColumnPx, LVCFMT_LEFT);
    list.InsertColumn(1, "Duration", kDurationColumnPx, LVCFMT_LEFT);
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

// The playing track was disabled: on to the next enabled one, or, with none
// left, let playback finish.
void LeaveDisabledTrack(PlayerState& p) {
    int next = p.NextEnabledTrack();
    if (next == -1) {
        p.finish_requested = 1;
        return;
    }
    {
        // The playback thread takes the same lock for every block, so it sees
        // either the old track or the new one rewound, never half a change.
        StreamLock hold;
        p.SelectTrack(next);
        if (PlaybackThreadExists(p)) {
            p.decode_position_ms = 0;
            p.module->output->flush(0);
            p.switching_track = 1;
        } else {
            p.switching_track = 0;
        }
        p.SeekStream(0, 1);
    }
    PostMessageA(p.module->main_window, kRestartRequest, 0, kRestartRequestCode);
}

void ApplyChoice(PlayerState& p, TrackListView& list) {
    if (!HasCatalogue(p))
        return;
    for (int j = 0; j < p.track_count; ++j)
        StoreEnabled(p.tracks[j], list.GetRowState(j, LVIS_SELECTED) != 0);
    // With no current record there is no playing track to leave.
    TrackRecord* current = CurrentRecord(p);
    if (current && !IsEnabled(*current))
        LeaveDisabledTrack(p);
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
