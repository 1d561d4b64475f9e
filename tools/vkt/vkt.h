// The sample host's subcommands.
#ifndef VKT_TOOLS_VKT_H_
#define VKT_TOOLS_VKT_H_

#include <string>
#include <vector>

namespace vkt::tool {

// The host's own parameter block, filled once and handed to the library.
void InitHost();

int Demo(const std::vector<std::string>& args);
int DemoSql(const std::vector<std::string>& args);  // vkt demo --sql
int DemoLive(const std::vector<std::string>& args);  // vkt demo --live
int View(const std::vector<std::string>& args);
int Db(const std::vector<std::string>& args);
void DemoReport(const std::string& dir);
void DemoDialogs(const std::string& dir);
void DemoControls(const std::string& dir);
void DemoTabs(const std::string& dir);  // the tabbed record dialog
void DemoGrid(const std::string& dir);
void DemoLogin(const std::string& dir);  // login, user list and change history
int Export(const std::vector<std::string>& args);
int CopyCompany(const std::vector<std::string>& args);
int Zip(const std::vector<std::string>& args);
// `vkt wait LOG [SECONDS]`: the demo's service, which notes its start and
// its stop in LOG and ends on SIGTERM (or by itself after SECONDS).
int Wait(const std::vector<std::string>& args);
// The demo's service step: a `vkt wait` child started with CheckService and
// stopped with CloseService under the supervisor backend. The summary's
// line, empty when a step failed.
std::string DemoServiceControl(const std::string& dir);
// The demo's exports: a warehouse table to JSON and CSV, the company
// archive dumped, all of it zipped. The number of steps that failed.
int DemoExport(const std::string& dir);

}  // namespace vkt::tool

#endif  // VKT_TOOLS_VKT_H_
