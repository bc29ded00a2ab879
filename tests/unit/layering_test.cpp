// The folders of src/core form layers and every #include points down (or stays in its folder);
// no header includes itself round a cycle. Read from the sources' own #include lines.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Bottom first. A folder may include its own files and those of any lower layer, never a folder
// of its own layer or above.
const std::vector<std::vector<std::string>> Layers = {
    {"process", "message", "settings"}, // process-wide state and waits, leaf records
    {"ui"},                             // the sinks through which the core reports and asks
    {"transfer"},                       // the contract of the controller and its engines
    {"net"},
    {"search", "package"},
    {"http", "ftp", "tftp"}, // the engines
    {"upgrade"},
};

using IncludeGraph = std::map<std::string, std::set<std::string>>; // file -> included files

std::string folderOf(const std::string& file) {
    const auto slash = file.find('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

int layerOf(const std::string& folder) {
    for (size_t i = 0; i < Layers.size(); ++i)
        for (const auto& f : Layers[i])
            if (f == folder)
                return int(i);
    return -1;
}

// The quoted includes of every source under `root` that name a file under `root`.
IncludeGraph readIncludes(const fs::path& root) {
    const std::regex includeLine(R"re(^\s*#\s*include\s*"([^"]+)")re");
        IncludeGraph graph;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const auto ext = e.path().extension();
        if (!e.is_regular_file() || (ext != ".h" && ext != ".cpp"))
            continue;
        const std::string file = fs::relative(e.path(), root).generic_string();
        auto& edges = graph[file];
        std::ifstream in(e.path());
        std::string line;
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_search(line, m, includeLine) && fs::exists(root / m[1].str()))
                edges.insert(m[1].str());
    }
    return graph;
}

// "a -> b" for each include between folders that does not point to a lower layer.
std::vector<std::string> upwardIncludes(const IncludeGraph& graph) {
    std::vector<std::string> bad;
    for (const auto& [file, includes] : graph)
        for (const auto& inc : includes) {
            const std::string from = folderOf(file), to = folderOf(inc);
            if (from != to && !(layerOf(to) >= 0 && layerOf(to) < layerOf(from)))
                bad.push_back(file + " -> " + inc);
        }
    return bad;
}

// One include cycle as "a -> b -> a", or empty when there is none.
std::string findCycle(const IncludeGraph& graph) {
    std::map<std::string, int> state; // 1 on the current path, 2 done
    std::vector<std::string> path;
    std::string cycle;
    std::function<bool(const std::string&)> visit = [&](const std::string& f) {
        state[f] = 1;
        path.push_back(f);
        const auto it = graph.find(f);
        if (it != graph.end())
            for (const auto& g : it->second) {
                if (state[g] == 1) {
                    for (auto p = std::find(path.begin(), path.end(), g); p != path.end(); ++p)
                        cycle += *p + " -> ";
                    cycle += g;
                    return true;
                }
                if (state[g] == 0 && visit(g))
                    return true;
            }
        path.pop_back();
        state[f] = 2;
        return false;
    };
    for (const auto& [file, includes] : graph)
        if (state[file] == 0 && visit(file))
            break;
    return cycle;
}

// The test folder's absolute path comes with Qt Test (__FILE__ may be relative to the build).
const fs::path CoreRoot = fs::path(QT_TESTCASE_SOURCEDIR) / ".." / "src" / "core";

TEST(LayeringTest, EveryCoreFolderHasALayerAndIncludesPointDown) {
    const IncludeGraph graph = readIncludes(CoreRoot);
    ASSERT_GT(graph.size(), 50u) << CoreRoot;
    for (const auto& [file, includes] : graph)
        EXPECT_GE(layerOf(folderOf(file)), 0) << file << " lies in no layer";
    const auto bad = upwardIncludes(graph);
    EXPECT_TRUE(bad.empty()) << "first upward include: " << (bad.empty() ? "" : bad.front()) << " ("
                             << bad.size() << " in all)";
    EXPECT_EQ(findCycle(graph), "");
}

TEST(LayeringTest, TheCheckFindsAnUpwardIncludeAndACycle) {
    const IncludeGraph graph = {
        {"net/A.h", {"upgrade/B.h", "ui/Sinks.h"}},
        {"upgrade/B.h", {"upgrade/C.h"}},
        {"upgrade/C.h", {"upgrade/B.h"}},
        {"search/D.h", {"package/E.h"}}, // same layer, other folder
    };
    EXPECT_EQ(upwardIncludes(graph),
              (std::vector<std::string>{"net/A.h -> upgrade/B.h", "search/D.h -> package/E.h"}));
    EXPECT_EQ(findCycle(graph), "upgrade/B.h -> upgrade/C.h -> upgrade/B.h");
}

} // namespace
