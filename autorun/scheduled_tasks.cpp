#include "autorun/scheduled_tasks.h"

#include <cstdlib>

#include "autorun/collectors.h"
#include "report/report_line.h"

namespace {

// The command that resolves a program action: the path quoted unless it is already,
// then the arguments, with environment references expanded as the scheduler does.
char* ActionCommand(const AutorunSystem* system, const char* path, const char* arguments) {
    const bool quoted = path[0] == '"';
    char* command = JoinTexts({quoted ? "" : "\"", path, quoted ? "" : "\"", arguments[0] ? " " : "", arguments});
    const RegistryOps* registry = system->registry;
    char* expanded = command && registry && registry->expandEnvironment
                         ? registry->expandEnvironment(registry->context, command)
                         : nullptr;
    if (!expanded) return command;
    std::free(command);
    return expanded;
}

void ListTask(const AutorunWriter* writer, TaskFolder folder, uint32_t index) {
    const TaskSchedulerOps* tasks = writer->system->tasks;
    char* name = tasks->taskName ? tasks->taskName(tasks->context, folder, index) : nullptr;
    if (!name) return;
    char* path = nullptr;
    char* arguments = nullptr;
    for (uint32_t action = 0;
         tasks->taskProgram && tasks->taskProgram(tasks->context, folder, index, action, &path, &arguments); ++action) {
        if (!path || !arguments) {
            std::free(path);
            std::free(arguments);
            path = arguments = nullptr;
            continue;
        }
        char* text = JoinTexts({name, " = ", path, arguments[0] ? " " : "", arguments});
        char* command = ActionCommand(writer->system, path, arguments);
        if (text) WriteAutorunEntry(writer, kKeyValueLevel, text, command);
        std::free(command);
        std::free(text);
        std::free(path);
        std::free(arguments);
        path = arguments = nullptr;
    }
    std::free(name);
}

uint32_t ListFolder(const AutorunWriter* writer, const ProgressOps* progress, TaskFolder folder, uint32_t depth) {
    const TaskSchedulerOps* tasks = writer->system->tasks;
    const uint32_t count = tasks->countTasks ? tasks->countTasks(tasks->context, folder) : 0;
    char* heading = count && tasks->folderPath ? tasks->folderPath(tasks->context, folder) : nullptr;
    if (heading) {
        WriteReportLine(writer->stream, kCodeLocationHeading, heading, nullptr, "");
        for (uint32_t index = 0; index < count; ++index) ListTask(writer, folder, index);
        WriteSeparatorLine(writer->stream, 0, "");
    }
    std::free(heading);
    if (progress && progress->isStopRequested && progress->isStopRequested(progress->context)) return kStoppedStatus;
    if (depth >= kMaxTaskFolderDepth) return 0;
    const uint32_t subfolders = tasks->countSubfolders ? tasks->countSubfolders(tasks->context, folder) : 0;
    uint32_t status = 0;
    for (uint32_t index = 0; status != kStoppedStatus && index < subfolders; ++index) {
        TaskFolder subfolder = tasks->openSubfolder ? tasks->openSubfolder(tasks->context, folder, index) : nullptr;
        if (!subfolder) continue;
        status = ListFolder(writer, progress, subfolder, depth + 1);
        tasks->closeFolder(tasks->context, subfolder);
    }
    return status;
}

}  // namespace

uint32_t ListScheduledTasks(const AutorunWriter* writer, const ProgressOps* progress) {
    const TaskSchedulerOps* tasks = writer->system->tasks;
    if (!tasks || !tasks->openRoot || !tasks->closeFolder) return 0;
    const bool began = tasks->beginThread && tasks->beginThread(tasks->context);
    TaskFolder root = tasks->openRoot(tasks->context);
    const uint32_t status = root ? ListFolder(writer, progress, root, 0) : 0;
    if (root) tasks->closeFolder(tasks->context, root);
    if (began && tasks->endThread) tasks->endThread(tasks->context);
    return status;
}
