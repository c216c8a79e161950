// Reads and writes the administrator's files the way the program does for a
// user other than root (through the interceptor service), and prints what it
// found:  AdminFilesClient DEVICE PROGRAM_FOLDER PASSWORD|-
#include <cstdio>
#include <string>

#include "platform/Registry.h"
#include "platform/ServiceFiles.h"
#include "settings/Encript.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: AdminFilesClient DEVICE PROGRAM_FOLDER PASSWORD|-\n");
        return 2;
    }
    const std::string device = argv[1];
    const std::string folder = argv[2];
    const std::string password = argv[3];
    kv::platform::TServiceFiles::Paths paths;
    paths.settings = folder + "/kv.dat";
    paths.machineFolder = folder + "/machine";
    paths.machineRegistry = paths.machineFolder + "/registry/HKLM.reg";
    paths.userRegistry = paths.machineFolder + "/registry/HKCU/nobody.reg";
    kv::platform::TServiceFiles files(device, paths);
    if (password != "-")
        files.SetPassword(password);
    kv::platform::SetFileBroker(&files);

    kv::TEncriptor store(paths.settings, true);
    std::printf("readable=%d group=%s\n", store.Readable() ? 1 : 0,
                store.ReadString("nobody_GroupName", "").c_str());
    store.WriteString("Edited", "by nobody");
    std::printf("saved=%d\n", store.Flush(true) ? 1 : 0);

    const auto registry = kv::platform::OpenMachineRegistry(paths.machineFolder, "nobody");
    const bool wrote = registry->WriteString(kv::platform::Hive::LocalMachine, "Software\\Probe",
                                             "Value", "written by nobody");
    const bool wroteOwn =
        registry->WriteString(kv::platform::Hive::CurrentUser, "Software\\Probe", "Value", "mine");
    std::printf("registry=%d own=%d read=%s\n", wrote ? 1 : 0, wroteOwn ? 1 : 0,
                registry->ReadString(kv::platform::Hive::LocalMachine, "Software\\Probe", "Value")
                    .value_or("-")
                    .c_str());
    return 0;
}
