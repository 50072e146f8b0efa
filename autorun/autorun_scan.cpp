#include "autorun/autorun_scan.h"

#include <cstdlib>
#include <cstring>

#include "autorun/collectors.h"
#include "autorun/file_types.h"
#include "autorun/scheduled_tasks.h"
#include "autorun/startup_folder.h"
#include "report/report_line.h"

namespace {

constexpr uint32_t kNt = 1u << kAutorunNtFamily;
constexpr uint32_t k9x = 1u << kAutorun9xFamily;
constexpr uint32_t kBoth = kNt | k9x;

// An INI file heading (section null) or one of its sections.
struct IniPlace {
    const char* file;
    const char* section;
    uint32_t families;
};

// "drivesr32" never matches a real section; "drivers32", where the drivers Windows
// loads are listed, follows it under its own heading.
constexpr IniPlace kIniPlaces[] = {
    {"win.ini", nullptr, k9x},
    {"win.ini", "Windows", k9x},
    {"system.ini", nullptr, kBoth},
    {"system.ini", "boot", k9x},
    {"system.ini", "386Enh", kBoth},
    {"system.ini", "drivers", kBoth},
    {"system.ini", "drivesr32", kBoth},
    {"system.ini", "drivers32", kBoth},
};

// A registry location: its heading is path, the key opened is the group's prefix + path.
struct KeyPlace {
    RegistryHive hive;
    const char* path;
    bool withSubkeys;
    uint32_t families;
};

constexpr KeyPlace kKeyPlaces[] = {
    {kHiveLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", true, kNt},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\WOW\\Boot", false, kNt},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers", false, kNt},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32", false, kNt},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\WOW\\NonWindowsApp", false, kNt},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\WOW\\Standard", false, kNt},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon", false, kNt},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", false, kBoth},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", false, kBoth},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx", false, kBoth},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices", false, k9x},
    {kHiveLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce", false, k9x},
    {kHiveCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", false, kBoth},
    {kHiveCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", false, kBoth},
    {kHiveCurrentUser, "Software\\Mirabilis\\ICQ\\Agent\\Apps", false, kBoth},
    {kHiveUsers, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", false, kBoth},
    {kHiveUsers, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", false, kBoth},
};

struct KeyGroup {
    RegistryHive hive;
    const char* label;
    const char* prefix;  // put before each path when the key is opened
};

// The 32-bit view of HKEY_LOCAL_MACHINE is read on NT 6 and later where it exists,
// with the places of HKEY_LOCAL_MACHINE; the user hives and classes are the same in
// both views.
constexpr KeyGroup kKeyGroups[] = {
    {kHiveLocalMachine, "HKEY_LOCAL_MACHINE", ""},
    {kHiveLocalMachine32, "HKEY_LOCAL_MACHINE (32-bit)", ""},
    {kHiveCurrentUser, "HKEY_CURRENT_USER", ""},
    {kHiveUsers, "HKEY_USERS\\.DEFAULT", ".DEFAULT\\"},
};

// Places of current systems, after those above: the Run key of the Explorer policies,
// the entries of RunOnceEx, which sit in its subkeys, and the scheduled tasks.
constexpr char kExplorerRunPolicy[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";
constexpr char kRunOnceEx[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
constexpr RegistryHive kPolicyHives[] = {kHiveLocalMachine, kHiveLocalMachine32, kHiveCurrentUser};
constexpr RegistryHive kRunOnceExHives[] = {kHiveLocalMachine, kHiveLocalMachine32};

constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Shell Folders";
constexpr char kUserShellFolders[] = "software\\microsoft\\windows\\currentversion\\explorer\\user shell folders";
constexpr char kCurrentShellFolders[] = "software\\microsoft\\windows\\currentversion\\explorer\\shell folders";
constexpr char kNtProfileList[] = "software\\microsoft\\windows nt\\currentversion\\profilelist";
constexpr char k9xProfileList[] = "software\\microsoft\\windows\\currentversion\\profilelist";
constexpr char kProfileReconciliation[] = "Software\\Microsoft\\Windows\\CurrentVersion\\ProfileReconciliation";
constexpr char kSystemRootReference[] = "%SystemRoot%";
constexpr size_t kUserProfileReferenceLength = 13;  // "%USERPROFILE%"
constexpr size_t kSystemRootReferenceLength = sizeof(kSystemRootReference) - 1;

bool IsNt(AutorunFamily family) { return family != kAutorun9xFamily; }

// NT 6 and later visit the places of the NT family first.
bool InFamily(uint32_t families, AutorunFamily family) {
    return (families & (1u << (IsNt(family) ? kAutorunNtFamily : family))) != 0;
}

// Whether a group or place of that hive is read in this scan.
bool HiveRead(const AutorunSystem* system, RegistryHive hive, AutorunFamily family) {
    return hive != kHiveLocalMachine32 || (family == kAutorunNt6Family && system->registryViews);
}

// The hive of a place as read for a group: HKEY_LOCAL_MACHINE's places again for its
// 32-bit view.
bool PlaceInGroup(const KeyPlace& place, RegistryHive group) {
    return place.hive == (group == kHiveLocalMachine32 ? kHiveLocalMachine : group);
}

void WriteEndOfBlock(FILE* stream) { WriteSeparatorLine(stream, 0, ""); }
void WriteHeading(FILE* stream, uint32_t code, const char* text) { WriteReportLine(stream, code, text, nullptr, ""); }

const KeyGroup& GroupOf(RegistryHive hive) {
    for (const KeyGroup& group : kKeyGroups) {
        if (group.hive == hive) return group;
    }
    return kKeyGroups[0];
}

// The Windows folder; "" when it cannot be read.
void WindowsFolder(const AutorunSystem* system, char* folder) {
    const CommandLineOps* ops = system->commandLine;
    folder[0] = '\0';
    if (!ops || !ops->getWindowsDirectory || !ops->getWindowsDirectory(ops->context, folder, kResolvedPathSize)) {
        folder[0] = '\0';
    }
    folder[kResolvedPathSize - 1] = '\0';
}

// text without its first count characters ("" when it is shorter).
const char* SkipCharacters(const AutorunSystem* system, const char* text, size_t count) {
    for (; count > 0 && *text; --count) text += CharacterSize(system->commandLine, text);
    return count == 0 ? text : "";
}

size_t CountCharacters(const AutorunSystem* system, const char* text) {
    size_t count = 0;
    for (; *text; ++count) text += CharacterSize(system->commandLine, text);
    return count;
}

// A startup location: its heading, its entries, the end-of-block line.
void ListStartupLocation(const AutorunWriter* writer, const char* heading, const char* folder) {
    WriteHeading(writer->stream, kCodeLocationHeading, heading);
    if (folder && folder[0] != '\0') ListStartupFolder(writer, folder);
    WriteEndOfBlock(writer->stream);
}

char* OpenPathOf(const KeyPlace& place) { return JoinTexts({GroupOf(place.hive).prefix, place.path}); }

uint32_t CountSteps(const AutorunSystem* system, AutorunFamily family) {
    const ProcessOps* processes = system->processes;
    uint32_t steps = processes && processes->countProcesses ? processes->countProcesses(processes->context) : 0;
    steps += FixedScanSteps(family);
    for (const KeyGroup& group : kKeyGroups) {
        if (!HiveRead(system, group.hive, family)) continue;
        for (const KeyPlace& place : kKeyPlaces) {
            if (!PlaceInGroup(place, group.hive) || !InFamily(place.families, family)) continue;
            char* path = OpenPathOf(place);
            if (path) steps += CountKeyItems(system, group.hive, path, place.withSubkeys);
            std::free(path);
        }
    }
    if (family == kAutorunNt6Family) {
        for (RegistryHive hive : kPolicyHives) {
            if (HiveRead(system, hive, family)) steps += CountKeyItems(system, hive, kExplorerRunPolicy, false);
        }
        for (RegistryHive hive : kRunOnceExHives) {
            if (!HiveRead(system, hive, family)) continue;
            steps += CountKeyItems(system, hive, kRunOnceEx, true) - CountKeyItems(system, hive, kRunOnceEx, false);
        }
    }
    // The file types are walked twice.
    return steps + 2 * CountKeyItems(system, kHiveClassesRoot, nullptr, true);
}

uint32_t ListRunningProcesses(const AutorunWriter* writer, HashTable* table, const ProgressOps* progress,
                              AutorunFamily family) {
    const ProcessOps* processes = writer->system->processes;
    if (processes && processes->listProcesses && table) {
        const bool withProgress = progress && IsNt(family);
        if (processes->listProcesses(processes->context, table, withProgress) == kStoppedStatus) return kStoppedStatus;
        if (processes->resolveImagePaths) processes->resolveImagePaths(processes->context, table);
    }
    return StepAndCheck(progress) ? kStoppedStatus : 0;
}

uint32_t ScanIniFiles(const AutorunWriter* writer, const ProgressOps* progress, AutorunFamily family) {
    char windows[kResolvedPathSize];
    WindowsFolder(writer->system, windows);
    WriteHeading(writer->stream, kCodeSectionHeading, "Ini");
    for (const IniPlace& place : kIniPlaces) {
        if (!InFamily(place.families, family)) continue;
        char* path = JoinPath(writer->system->commandLine, windows, place.file);
        if (!path) continue;
        if (!place.section) {
            // The file is described whether or not it exists.
            char* details = DescribeFile(writer, path);
            WriteReportLine(writer->stream, kCodeIniFileHeading, path, details ? details : "", "");
            std::free(details);
            WriteEndOfBlock(writer->stream);
        } else {
            char* heading = JoinTexts({"[", place.section, "]"});
            if (heading) WriteHeading(writer->stream, kCodeSubHeading, heading);
            std::free(heading);
            ReadIniSection(writer, place.section, path);
        }
        std::free(path);
        if (place.section && StepAndCheck(progress)) return kStoppedStatus;
    }
    return 0;
}

uint32_t ScanRegistryGroups(const AutorunWriter* writer, const ProgressOps* progress, AutorunFamily family) {
    for (const KeyGroup& group : kKeyGroups) {
        if (!HiveRead(writer->system, group.hive, family)) continue;
        WriteHeading(writer->stream, kCodeSectionHeading, group.label);
        for (const KeyPlace& place : kKeyPlaces) {
            if (!PlaceInGroup(place, group.hive) || !InFamily(place.families, family)) continue;
            WriteHeading(writer->stream, kCodeLocationHeading, place.path);
            char* path = OpenPathOf(place);
            const uint32_t status =
                path ? WalkRegistryKey(writer, kKeyValueLevel, progress, group.hive, path, place.withSubkeys) : 0;
            std::free(path);
            if (status == kStoppedStatus) return status;
        }
    }
    return 0;
}

uint32_t ScanClassesRoot(const AutorunWriter* writer, const ProgressOps* progress) {
    WriteHeading(writer->stream, kCodeSectionHeading, "HKEY_CLASSES_ROOT");
    WriteHeading(writer->stream, kCodeLocationHeading, "Associated extension");
    if (ListFileAssociations(writer, progress) == kStoppedStatus) return kStoppedStatus;
    // Nothing is listed under the COM interfaces: the location is only named.
    WriteHeading(writer->stream, kCodeLocationHeading, "COM and DCOM Interfaces");
    return 0;
}

// The part of a profile path after "%SystemRoot%" ("\Profiles\Name"); null when the path
// does not begin with it.
const char* BelowSystemRoot(const AutorunSystem* system, const char* image) {
    if (!StartsWithNoCase(image, kSystemRootReference, kSystemRootReferenceLength)) return nullptr;
    return SkipCharacters(system, image, kSystemRootReferenceLength);
}

// A profile's folder on the NT family: a path under the Windows folder ("%SystemRoot%\...")
// is taken relative to it; any other path (%SystemDrive%\..., a plain path) is expanded.
char* NtProfileFolder(const AutorunSystem* system, const char* image, const char* windows) {
    const char* below = BelowSystemRoot(system, image);
    if (below) return JoinTexts({windows, below});
    const RegistryOps* registry = system->registry;
    char* expanded = registry && registry->expandEnvironment ? registry->expandEnvironment(registry->context, image)
                                                              : nullptr;
    return expanded ? expanded : NewText(image);
}

// NT family: the startup folder of every profile, the current user's startup path taken
// relative to the profile folder.
void ListNtProfiles(const AutorunWriter* writer) {
    const AutorunSystem* system = writer->system;
    char windows[kResolvedPathSize];
    WindowsFolder(system, windows);
    char* startup = ReadRegistryText(system, kHiveCurrentUser, kUserShellFolders, "startup");
    const bool listed = windows[0] != '\0' && startup && startup[0] != '\0';
    RegistryKey profiles = listed ? OpenRegistryKey(system, kHiveLocalMachine, kNtProfileList) : nullptr;
    uint32_t count = 0;
    uint32_t values = 0;
    if (!QueryRegistryCounts(system, profiles, &count, &values)) count = 0;
    const char* relative = listed ? SkipCharacters(system, startup, kUserProfileReferenceLength) : "";
    for (uint32_t index = 0; index < count; ++index) {
        char name[kKeyNameSize];
        if (!EnumRegistrySubkey(system, profiles, index, name)) continue;
        char* keyPath = JoinTexts({kNtProfileList, "\\", name});
        char* image = keyPath ? ReadRegistryText(system, kHiveLocalMachine, keyPath, "ProfileImagePath") : nullptr;
        char* profileFolder = image ? NtProfileFolder(system, image, windows) : nullptr;
        char* folder = profileFolder ? JoinTexts({profileFolder, relative}) : nullptr;
        // A profile under the Windows folder is named by its path below it; any other by its
        // whole path (cutting 12 characters off "C:\Users\Name" would leave a stub of the name).
        const char* below = image ? BelowSystemRoot(system, image) : nullptr;
        if (image) ListStartupLocation(writer, below ? below : image, folder);
        std::free(folder);
        std::free(profileFolder);
        std::free(image);
        std::free(keyPath);
    }
    CloseRegistryKey(system, profiles);
    std::free(startup);
}

// 9x family: the startup folder of every user profile, or the current user's.
void List9xProfiles(const AutorunWriter* writer) {
    const AutorunSystem* system = writer->system;
    char* profile = ReadRegistryText(system, kHiveCurrentUser, kProfileReconciliation, "ProfileDirectory");
    char* startup = ReadRegistryText(system, kHiveCurrentUser, kUserShellFolders, "startup");
    RegistryKey profiles = startup && startup[0] != '\0' ? OpenRegistryKey(system, kHiveLocalMachine, k9xProfileList)
                                                          : nullptr;
    if (!profiles) {
        char* current = ReadRegistryText(system, kHiveCurrentUser, kCurrentShellFolders, "startup");
        ListStartupLocation(writer, "Current user", current);
        std::free(current);
    } else {
        const char* relative = SkipCharacters(system, startup, profile ? CountCharacters(system, profile) : 0);
        uint32_t count = 0;
        uint32_t values = 0;
        QueryRegistryCounts(system, profiles, &count, &values);
        for (uint32_t index = 0; index < count; ++index) {
            char name[kKeyNameSize];
            if (!EnumRegistrySubkey(system, profiles, index, name)) continue;
            char* keyPath = JoinTexts({k9xProfileList, "\\", name});
            char* image = keyPath ? ReadRegistryText(system, kHiveLocalMachine, keyPath, "ProfileImagePath") : nullptr;
            char* folder = image ? JoinTexts({image, relative}) : nullptr;
            ListStartupLocation(writer, name, folder);
            std::free(folder);
            std::free(image);
            std::free(keyPath);
        }
        CloseRegistryKey(system, profiles);
    }
    std::free(startup);
    std::free(profile);
}

void ScanStartupFolders(const AutorunWriter* writer, AutorunFamily family) {
    WriteHeading(writer->stream, kCodeSectionHeading, "StartUp");
    char* common = ReadRegistryText(writer->system, kHiveLocalMachine, kShellFolders, "Common Startup");
    if (common && common[0] != '\0') ListStartupLocation(writer, "All users", common);
    std::free(common);
    if (IsNt(family)) {
        ListNtProfiles(writer);
    } else {
        List9xProfiles(writer);
    }
}

// A registry place of current systems, headed by its hive's label and its path.
void WriteHivePlaceHeading(FILE* stream, RegistryHive hive, const char* path) {
    char* heading = JoinTexts({GroupOf(hive).label, "\\", path});
    if (heading) WriteHeading(stream, kCodeLocationHeading, heading);
    std::free(heading);
}

uint32_t ScanCurrentPlaces(const AutorunWriter* writer, const ProgressOps* progress) {
    const AutorunFamily family = kAutorunNt6Family;
    WriteHeading(writer->stream, kCodeSectionHeading, "Explorer Run policies");
    for (RegistryHive hive : kPolicyHives) {
        if (!HiveRead(writer->system, hive, family)) continue;
        WriteHivePlaceHeading(writer->stream, hive, kExplorerRunPolicy);
        if (WalkRegistryKey(writer, kKeyValueLevel, progress, hive, kExplorerRunPolicy, false) == kStoppedStatus) {
            return kStoppedStatus;
        }
    }
    WriteHeading(writer->stream, kCodeSectionHeading, "RunOnceEx");
    AutorunWriter runOnceEx = *writer;
    runOnceEx.runOnceExValues = true;
    for (RegistryHive hive : kRunOnceExHives) {
        if (!HiveRead(writer->system, hive, family)) continue;
        WriteHivePlaceHeading(writer->stream, hive, kRunOnceEx);
        if (WalkSubkeys(&runOnceEx, kKeyValueLevel, progress, hive, kRunOnceEx) == kStoppedStatus) return kStoppedStatus;
    }
    WriteHeading(writer->stream, kCodeSectionHeading, "Scheduled tasks");
    if (ListScheduledTasks(writer, progress) == kStoppedStatus) return kStoppedStatus;
    return StepAndCheck(progress) ? kStoppedStatus : 0;
}

}  // namespace

uint32_t FixedScanSteps(AutorunFamily family) {
    // NT 6 and later step once more, after the scheduled tasks.
    uint32_t steps = family == kAutorunNt6Family ? 3 : 2;
    for (const IniPlace& place : kIniPlaces) {
        if (place.section && InFamily(place.families, family)) ++steps;
    }
    return steps;
}

uint32_t ScanAutoruns(const AutorunSystem* system, const ProgressOps* progress, FILE* stream, AutorunFamily family) {
    if (progress) {
        if (progress->begin) progress->begin(progress->context, CountSteps(system, family));
        if (progress->isStopRequested && progress->isStopRequested(progress->context)) return kStoppedStatus;
    }
    HashTable* processTable = CreateTable(8, 1);
    HashTable* detailsCache = CreateDetailsCache();
    const AutorunWriter writer = {stream, system, processTable, detailsCache, IsNt(family), false};
    uint32_t status = ListRunningProcesses(&writer, processTable, progress, family);
    if (status != kStoppedStatus) status = ScanIniFiles(&writer, progress, family);
    if (status != kStoppedStatus) status = ScanRegistryGroups(&writer, progress, family);
    if (status != kStoppedStatus) status = ScanClassesRoot(&writer, progress);
    if (status != kStoppedStatus) {
        ScanStartupFolders(&writer, family);
        if (StepAndCheck(progress)) status = kStoppedStatus;
    }
    if (status != kStoppedStatus && family == kAutorunNt6Family) status = ScanCurrentPlaces(&writer, progress);
    DestroyDetailsCache(detailsCache);
    DestroyTable(processTable, 1);
    return status == kStoppedStatus ? kStoppedStatus : 0;
}
