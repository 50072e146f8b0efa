// The connections dialog: a list of every TCP connection and UDP endpoint with its
// owning program, filled by the ListConnections job when the user presses Check.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/controls.h"
#include "ui/dialog.h"

struct SystemProbe;

class ConnectionsDialog : public Dialog {
public:
    explicit ConnectionsDialog(HWND parent);

    SystemProbe* probe = nullptr;  // set by the caller before the dialog runs
    ListViewRef list;              // 1055

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    // Enter presses Check, the default button, and never closes the dialog.
    void OnOK() override { OnCheck(); }

private:
    void OnCheck();
    uint8_t viewMode_ = 0;  // the job's view-mode byte, which nothing reads
};

// Runs the connections dialog modally over owner with the probe.
void RunConnectionsDialog(HWND owner, SystemProbe* probe);

// The nine column headers, by column number.
extern const wchar_t* const kConnectionColumnHeaders[9];
