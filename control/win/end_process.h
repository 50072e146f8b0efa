// Ending a process on request (menu 32778 of the live tree): a process that may be
// opened is terminated; one that may not, for lack of rights, is taken for a service and
// the services that run from its image are stopped. Then the tree shows the outcome.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

struct SystemProbe;

// How the process is opened for termination: the system's OpenProcess; a test passes
// one that refuses, to reach the services under a system that lets every process open.
using OpenProcessFn = HANDLE(WINAPI*)(DWORD access, BOOL inheritHandle, DWORD processId);

// Access asked for termination: every right of the systems before Vista.
constexpr DWORD kEndProcessAccess = 0x1F0FFF;
// How long termination, which the system completes on its own, is waited for.
constexpr DWORD kEndProcessWaitMs = 2000;

// Terminates the process and waits up to kEndProcessWaitMs for its end; when it may not
// be opened (access denied), stops the services that run from its image. Any other
// failure does nothing. Returns the number of services sent the stop.
uint32_t EndProcess(SystemProbe* probe, uint32_t processId, OpenProcessFn openProcess);

// Sends the stop to every active Win32 service whose registry "ImagePath", variables
// expanded and lower-cased, contains imagePath (lower case; "" stops nothing). Returns
// how many accepted it.
uint32_t StopServicesOfImage(const char* imagePath);

// Ends the process of the tree's selected item (a module item: its parent's) and updates
// the item: gone, it and its children are struck through; still running and expanded,
// its module items are read again (marked against searchedPath). Nothing happens
// without a selection or for a root item without the children flag.
void EndSelectedProcess(SystemProbe* probe, HWND tree, const char* searchedPath,
                        OpenProcessFn openProcess = OpenProcess);

// Strikes through a process item that no longer runs and every child of it (images
// 0 to 3 gain the gone offset; marked items keep theirs).
void MarkProcessGone(HWND tree, HTREEITEM processItem);
