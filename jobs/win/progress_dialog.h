// The modal progress dialog of a background operation: task text, progress bar,
// Cancel. Its initialisation starts the worker thread.
#pragma once

#include "jobs/win/worker_job.h"
#include "ui/controls.h"
#include "ui/dialog.h"

class ProgressDialog : public Dialog {
public:
    ProgressDialog();

    WorkerJob* job = nullptr;
    HANDLE* threadHandle = nullptr;  // where the started thread's handle is stored

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    // Only the worker's finish message ends the dialog with OK: Enter (IDOK from the
    // read-only task edit, there is no default button) does nothing.
    void OnOK() override {}

private:
    ProgressBarRef progressBar_;
    EditRef taskText_;
};
