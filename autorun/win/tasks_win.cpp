#include "autorun/win/tasks_win.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <taskschd.h>

#include <cstdlib>

namespace {

// The scheduler's class, {0F87369F-A4E5-4CFC-BD3E-73E6154572DD}.
const CLSID kTaskSchedulerClass = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};

struct Folder {
    ITaskFolder* folder;
    ITaskFolderCollection* subfolders;  // null until asked for
    IRegisteredTaskCollection* tasks;   // null until asked for
};

Folder* NewFolder(ITaskFolder* folder) {
    auto* f = static_cast<Folder*>(std::calloc(1, sizeof(Folder)));
    if (!f) {
        folder->Release();
        return nullptr;
    }
    f->folder = folder;
    return f;
}

// Collection items are numbered from 1.
VARIANT ItemIndex(uint32_t index) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = static_cast<LONG>(index + 1);
    return v;
}

// The text of a string the interface returned, in the system code page, in a new block
// ("" for a null string); the string is freed. Null when memory runs out.
char* TakeString(BSTR text) {
    const int size = text ? WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr) : 0;
    auto* ansi = static_cast<char*>(std::malloc(size > 0 ? size : 1));
    if (ansi) {
        ansi[0] = '\0';
        if (size > 0 && !WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, size, nullptr, nullptr)) ansi[0] = '\0';
    }
    SysFreeString(text);
    return ansi;
}

bool BeginThread(void*) { return SUCCEEDED(CoInitialize(nullptr)); }

void EndThread(void*) { CoUninitialize(); }

TaskFolder OpenRoot(void*) {
    ITaskService* service = nullptr;
    if (FAILED(CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskService),
                                reinterpret_cast<void**>(&service)))) {
        return nullptr;
    }
    VARIANT none;
    VariantInit(&none);
    ITaskFolder* root = nullptr;
    BSTR path = SysAllocString(L"\\");
    const bool opened = path && SUCCEEDED(service->Connect(none, none, none, none)) &&
                        SUCCEEDED(service->GetFolder(path, &root)) && root;
    SysFreeString(path);
    service->Release();  // the folder keeps the connection
    return opened ? NewFolder(root) : nullptr;
}

void CloseFolder(void*, TaskFolder folder) {
    auto* f = static_cast<Folder*>(folder);
    if (f->tasks) f->tasks->Release();
    if (f->subfolders) f->subfolders->Release();
    f->folder->Release();
    std::free(f);
}

uint32_t CountSubfolders(void*, TaskFolder folder) {
    auto* f = static_cast<Folder*>(folder);
    if (!f->subfolders && FAILED(f->folder->GetFolders(0, &f->subfolders))) f->subfolders = nullptr;
    LONG count = 0;
    return f->subfolders && SUCCEEDED(f->subfolders->get_Count(&count)) && count > 0 ? static_cast<uint32_t>(count) : 0;
}

TaskFolder OpenSubfolder(void*, TaskFolder folder, uint32_t index) {
    auto* f = static_cast<Folder*>(folder);
    ITaskFolder* subfolder = nullptr;
    if (!f->subfolders || FAILED(f->subfolders->get_Item(ItemIndex(index), &subfolder)) || !subfolder) return nullptr;
    return NewFolder(subfolder);
}

char* FolderPath(void*, TaskFolder folder) {
    BSTR path = nullptr;
    if (FAILED(static_cast<Folder*>(folder)->folder->get_Path(&path))) return nullptr;
    return TakeString(path);
}

uint32_t CountTasks(void*, TaskFolder folder) {
    auto* f = static_cast<Folder*>(folder);
    if (!f->tasks && FAILED(f->folder->GetTasks(TASK_ENUM_HIDDEN, &f->tasks))) f->tasks = nullptr;
    LONG count = 0;
    return f->tasks && SUCCEEDED(f->tasks->get_Count(&count)) && count > 0 ? static_cast<uint32_t>(count) : 0;
}

IRegisteredTask* TaskAt(TaskFolder folder, uint32_t index) {
    auto* f = static_cast<Folder*>(folder);
    IRegisteredTask* task = nullptr;
    if (!f->tasks || FAILED(f->tasks->get_Item(ItemIndex(index), &task))) return nullptr;
    return task;
}

char* TaskName(void*, TaskFolder folder, uint32_t index) {
    IRegisteredTask* task = TaskAt(folder, index);
    if (!task) return nullptr;
    BSTR name = nullptr;
    char* text = SUCCEEDED(task->get_Name(&name)) ? TakeString(name) : nullptr;
    task->Release();
    return text;
}

// Program action number wanted (program actions counted alone) of a task's actions.
IExecAction* ProgramAction(IActionCollection* actions, uint32_t wanted) {
    LONG count = 0;
    if (FAILED(actions->get_Count(&count))) return nullptr;
    uint32_t seen = 0;
    for (LONG item = 1; item <= count; ++item) {
        IAction* action = nullptr;
        if (FAILED(actions->get_Item(item, &action)) || !action) continue;
        IExecAction* program = nullptr;
        if (FAILED(action->QueryInterface(__uuidof(IExecAction), reinterpret_cast<void**>(&program)))) program = nullptr;
        action->Release();
        if (program && seen++ == wanted) return program;
        if (program) program->Release();
    }
    return nullptr;
}

bool TaskProgram(void*, TaskFolder folder, uint32_t index, uint32_t action, char** path, char** arguments) {
    IRegisteredTask* task = TaskAt(folder, index);
    ITaskDefinition* definition = nullptr;
    IActionCollection* actions = nullptr;
    IExecAction* program = nullptr;
    if (task && SUCCEEDED(task->get_Definition(&definition)) && definition &&
        SUCCEEDED(definition->get_Actions(&actions)) && actions) {
        program = ProgramAction(actions, action);
    }
    BSTR programPath = nullptr;
    BSTR programArguments = nullptr;
    const bool read = program && SUCCEEDED(program->get_Path(&programPath)) &&
                      SUCCEEDED(program->get_Arguments(&programArguments));
    char* pathText = read ? TakeString(programPath) : (SysFreeString(programPath), nullptr);
    char* argumentsText = read ? TakeString(programArguments) : (SysFreeString(programArguments), nullptr);
    if (program) program->Release();
    if (actions) actions->Release();
    if (definition) definition->Release();
    if (task) task->Release();
    if (!pathText || !argumentsText) {
        std::free(pathText);
        std::free(argumentsText);
        return false;
    }
    *path = pathText;
    *arguments = argumentsText;
    return true;
}

const TaskSchedulerOps kSystemTaskSchedulerOps = {
    nullptr,    BeginThread, EndThread, OpenRoot,   CountSubfolders, OpenSubfolder,
    CloseFolder, FolderPath, CountTasks, TaskName, TaskProgram,
};

}  // namespace

const TaskSchedulerOps* SystemTaskSchedulerOps() { return &kSystemTaskSchedulerOps; }
