// korvane.exe itself: its menu opens the connections dialog, whose Check lists a TCP
// listener, a UDP socket and an IPv6 TCP listener that this test holds open; Save with
// the connections option writes their lines, and loading that report groups them under
// their application.
#include <gtest/gtest.h>

#include "tests/net/win/connections_windows.h"

#include <fstream>
#include <sstream>
#include <string>

#include "resources/resource.h"
#include "tests/support/korvane_program.h"

namespace {

TEST(ConnectionsEndToEnd, DialogSaveAndLoadShowTheSockets) {
    testutil::Watchdog watchdog(180000);
    conntest::OpenSockets sockets;
    ASSERT_TRUE(sockets.Ok());
    testutil::KorvaneProgram program;
    ASSERT_TRUE(program.Start()) << "korvane.exe did not start; exit code " << std::hex << program.exitCode;

    program.Post(ID_VIEW_CONNECTIONS);
    HWND dialog = testutil::WaitForProcessWindow(program.Id(), L"检查活动连接", 20000, 20);
    ASSERT_NE(dialog, nullptr) << "menu 32777 opened no connections dialog";
    HWND list = GetDlgItem(dialog, IDC_CONNECTIONS_LIST);
    EXPECT_EQ(ListView_GetItemCount(list), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONNECTIONS_CHECK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CONNECTIONS_CHECK)));
    for (DWORD start = GetTickCount(); ListView_GetItemCount(list) == 0 && GetTickCount() - start < 30000;) Sleep(50);
    for (DWORD start = GetTickCount(); !IsWindowEnabled(dialog) && GetTickCount() - start < 30000;) Sleep(50);
    const auto rows = conntest::ListRows(program.Process(), list, 9);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(program.WaitIdle());

    const auto* tcp = conntest::FindRow(rows, "TCP", sockets.tcpPort);
    ASSERT_NE(tcp, nullptr) << "no row for the TCP listener among " << rows.size();
    EXPECT_EQ((*tcp)[2], "127.0.0.1");
    EXPECT_EQ((*tcp)[7], "LISTENING");
    EXPECT_EQ((*tcp)[4], "*");
    const auto* udp = conntest::FindRow(rows, "UDP", sockets.udpPort);
    ASSERT_NE(udp, nullptr) << "no row for the UDP socket";
    EXPECT_EQ((*udp)[2], "127.0.0.1");
    EXPECT_EQ((*udp)[7], "*");
    ASSERT_NE(sockets.tcp6Port, 0) << "no IPv6 listener on ::1";
    const auto* tcp6 = conntest::FindRow(rows, "TCP6", sockets.tcp6Port);
    ASSERT_NE(tcp6, nullptr) << "no row for the IPv6 listener";
    EXPECT_EQ((*tcp6)[1], (*tcp)[1]);  // ::1 shows the machine's name, as 127.0.0.1 does
    EXPECT_EQ((*tcp6)[2], "::1");

    // Save (connections option checked at start) and load the report back.
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "korvane_connections_e2e.log";
    DeleteFileA(path.c_str());
    ASSERT_TRUE(program.SaveReport(std::wstring(path.begin(), path.end())));
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string report = bytes.str();
    const std::string tcpPort = "|" + std::to_string(sockets.tcpPort);
    const std::string udpPort = "|" + std::to_string(sockets.udpPort);
    EXPECT_NE(report.find("2c910901|TCP|" + (*tcp)[1] + "|127.0.0.1" + tcpPort), std::string::npos) << report;
    EXPECT_NE(report.find("2c910901|UDP|" + (*udp)[1] + "|127.0.0.1" + udpPort), std::string::npos);
    EXPECT_NE(report.find("2c910901|TCP6|" + (*tcp6)[1] + "|::1|" + (*tcp6)[3] + "|*|*|*|LISTENING|???|"),
              std::string::npos);

    ASSERT_TRUE(program.LoadReport(std::wstring(path.begin(), path.end())));
    HTREEITEM ports = program.Find(nullptr, L"TCP/IP PORTS");
    ASSERT_NE(ports, nullptr);
    // Owners are 0 under Wine, so every row sits under the one "???" application item.
    const auto applications = program.Children(ports);
    ASSERT_EQ(applications.size(), 1u);
    EXPECT_EQ(program.Read(applications[0]).text, L"???");
    const std::wstring tcpText(tcp->at(3).begin(), tcp->at(3).end());
    const std::wstring udpText(udp->at(3).begin(), udp->at(3).end());
    HTREEITEM tcpItem = program.Find(applications[0], tcpText);
    ASSERT_NE(tcpItem, nullptr);
    EXPECT_NE(program.Find(applications[0], udpText), nullptr);
    HTREEITEM tcp6Item = program.Find(applications[0], std::wstring(tcp6->at(3).begin(), tcp6->at(3).end()));
    ASSERT_NE(tcp6Item, nullptr);
    program.Select(tcp6Item);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), L"TCP6");
    EXPECT_EQ(program.Field(IDC_FIELD_1070), L"::1");
    program.Select(tcpItem);
    EXPECT_EQ(program.Field(IDC_FIELD_1031), L"TCP");
    EXPECT_EQ(program.Field(IDC_FIELD_1032), std::wstring(tcp->at(1).begin(), tcp->at(1).end()));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(program.Main(), IDC_FIELD_1032)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(program.Main(), IDC_FIELD_1037)));
    EXPECT_EQ(program.Field(IDC_FIELD_1070), L"127.0.0.1");
    EXPECT_EQ(program.Field(IDC_FIELD_1071), tcpText);
    EXPECT_EQ(program.Field(IDC_FIELD_1038), L"listening");  // the field shows lower case
    EXPECT_TRUE(program.Close()) << "exit code " << std::hex << program.exitCode;
    DeleteFileA(path.c_str());
}

}  // namespace
