#pragma once
// The subcommands of pallix-bench. Each takes the arguments after its name and
// returns the exit status; bad arguments and missing inputs throw UsageError.

#include <string>
#include <vector>

namespace pallix::bench {

int runLoad(const std::vector<std::string>& argv);
int runQuery(const std::vector<std::string>& argv);
int runType(const std::vector<std::string>& argv);
int runOpen(const std::vector<std::string>& argv);
int runScan(const std::vector<std::string>& argv);
int runLive(const std::vector<std::string>& argv);
int runDeep(const std::vector<std::string>& argv);
int runCatchUp(const std::vector<std::string>& argv);
int runBurst(const std::vector<std::string>& argv);

} // namespace pallix::bench
