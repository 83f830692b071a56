// The --port names of a gang run: the device each opens, its log, and the usage errors.

#include "app/GangPorts.h"
#include "serial/PosixDevice.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

TEST(GangPortsTest, NamesResolveToDistinctDevicesAndLogs)
{
    struct Case {
        std::vector<std::string> names;
        std::string expected; // "name > device > log" per port, or the error; "<dir>": the folder
    };
    const Case cases[] = {
        {{"com03", "/dev/ttyUSB0", "a/ttyUSB0", "b/ttyUSB0", "c/ttyUSB0-2", "/dev/COM3"},
         "com03 > /dev/ttyS2 > loader-COM3.log; /dev/ttyUSB0 > /dev/ttyUSB0 > loader-ttyUSB0.log; "
         "a/ttyUSB0 > <dir>/a/ttyUSB0 > loader-ttyUSB0-2.log; b/ttyUSB0 > <dir>/b/ttyUSB0 > "
         "loader-ttyUSB0-3.log; c/ttyUSB0-2 > <dir>/c/ttyUSB0-2 > loader-ttyUSB0-2-2.log; "
         "/dev/COM3 > /dev/COM3 > loader-COM3-2.log"},
        {{"by-id/usb-FTDI A1:B2-if00", "./x/../COM2/"},
         "by-id/usb-FTDI A1:B2-if00 > <dir>/by-id/usb-FTDI A1:B2-if00 > "
         "loader-usb-FTDI_A1_B2-if00.log; ./x/../COM2/ > <dir>/COM2/ > loader-COM2.log"},
        {{"COM3", "COM3"}, "--port COM3 and --port COM3 name the same device (/dev/ttyS2)"},
        {{"COM1", "Com2"}, "--port COM1 and --port Com2 name the same device (<dir>/dev0)"},
        {{"by-id/usb-FTDI A1:B2-if00", "./dev0"},
         "--port by-id/usb-FTDI A1:B2-if00 and --port ./dev0 name the same device (<dir>/dev0)"},
        {{"nothere/../gone", "./gone"},
         "--port nothere/../gone and --port ./gone name the same device (<dir>/gone)"},
        {{"dev0"}, "--port dev0: give COMn or a device path (/dev/dev0)"},
        {{"COM1", "COM77"},
         "--port COM77: no device for this port (add COM77=/dev/... to section [Devices] of "
         "loader.ini)"},
        {{"COM065535"},
         "--port COM065535: no device for this port (add COM65535=/dev/... to section [Devices] "
         "of loader.ini)"},
        {{"ttyUSB3"}, "--port ttyUSB3: give COMn or a device path (/dev/ttyUSB3)"},
        {{"COM0"}, "--port COM0: give COMn or a device path (/dev/COM0)"},
        {{"COM65536"}, "--port COM65536: give COMn or a device path (/dev/COM65536)"},
        {{"COM 3"}, "--port COM 3: give COMn or a device path (/dev/COM 3)"},
    };
    testsupport::TempDir dir;
    const std::string folder = std::filesystem::canonical(dir.Path()).string();
    dir.Write("dev0", "");
    std::filesystem::create_directory(folder + "/by-id");
    std::filesystem::create_symlink("../dev0", folder + "/by-id/usb-FTDI A1:B2-if00");
    std::filesystem::create_symlink("by-id/usb-FTDI A1:B2-if00", folder + "/link1");
    dir.Write("loader.ini", "[Devices]\nCOM1=" + folder + "/link1\nCOM2=" + folder + "/dev0\n");
    const std::string previous = serial::DeviceIniFile();
    serial::SetDeviceIniFile(folder + "/loader.ini");

    for (const Case &c : cases) {
        SCOPED_TRACE(c.names.back());
        const loader::GangPortList list = loader::ResolveGangPorts(c.names, folder);
        std::string got = list.error;
        for (const loader::GangPort &port : list.ports)
            got +=
                (got.empty() ? "" : "; ") + port.name + " > " + port.device + " > " + port.logName;
        std::string expected = c.expected;
        for (std::size_t at; (at = expected.find("<dir>")) != std::string::npos;)
            expected.replace(at, 5, folder);
        EXPECT_EQ(got, expected);
        EXPECT_TRUE(list.error.empty() || list.ports.empty());
    }
    serial::SetDeviceIniFile(previous);
}

} // namespace
