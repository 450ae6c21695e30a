// The include graph of src/, read from the code's own #include lines: every include
// goes to the same folder or down the layers, and no class (a header and its
// source, one node) reaches itself through its includes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace
{
namespace fs = std::filesystem;

// Bottom up: a folder may include its own headers and those of the folders before it.
const std::vector<std::string> LayerOrder = {"reverb", "synth", "spu", "audio", "record", "config", "plugin"};

int layerOf(const std::string& folder)
{
    const auto at = std::find(LayerOrder.begin(), LayerOrder.end(), folder);
    return at == LayerOrder.end() ? -1 : static_cast<int>(at - LayerOrder.begin());
}

// "synth/Voice" for src/synth/Voice.cpp and src/synth/Voice.h alike.
typedef std::map<std::string, std::set<std::string>> Graph;

// The file of a quoted #include line, or "" for any other line.
std::string quotedInclude(const std::string& line)
{
    const size_t hash = line.find_first_not_of(" \t");
    if (hash == std::string::npos || line[hash] != '#')
        return "";
    const size_t word = line.find_first_not_of(" \t", hash + 1);
    if (word == std::string::npos || line.compare(word, 7, "include") != 0)
        return "";
    const size_t open = line.find_first_not_of(" \t", word + 7);
    if (open == std::string::npos || line[open] != '"')
        return "";
    const size_t close = line.find('"', open + 1);
    return close == std::string::npos ? "" : line.substr(open + 1, close - open - 1);
}

Graph readIncludes(const fs::path& src)
{
    Graph graph;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(src))
    {
        const fs::path path = entry.path();
        if (path.extension() != ".cpp" && path.extension() != ".h")
            continue;
        const std::string node = fs::relative(path, src).replace_extension().generic_string();
        graph[node];
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);)
        {
            const std::string included = quotedInclude(line);
            if (included.empty())
                continue;
            const std::string target = fs::path(included).replace_extension().generic_string();
            if (target != node)
                graph[node].insert(target);
        }
    }
    return graph;
}

std::string folderOf(const std::string& node)
{
    return node.substr(0, node.find('/'));
}

// True when the includes reached from node run in a cycle; path then ends with the
// node that closes it.
bool findCycle(const Graph& graph, const std::string& node, std::map<std::string, int>& state,
               std::vector<std::string>& path)
{
    state[node] = 1;
    path.push_back(node);
    const auto edges = graph.find(node);
    if (edges != graph.end())
        for (const std::string& next : edges->second)
        {
            if (state[next] == 1)
            {
                path.push_back(next);
                return true;
            }
            if (state[next] == 0 && findCycle(graph, next, state, path))
                return true;
        }
    state[node] = 2;
    path.pop_back();
    return false;
}

TEST(IncludeGraphTest, IncludesGoToTheSameFolderOrDownTheLayers)
{
    const Graph graph = readIncludes(fs::path(SPU_SOURCE_DIR) / "src");
    ASSERT_GT(graph.size(), 30u) << "the sources were not found";
    for (const auto& [node, targets] : graph)
    {
        const int from = layerOf(folderOf(node));
        ASSERT_GE(from, 0) << node << " is in no layer";
        for (const std::string& target : targets)
        {
            EXPECT_TRUE(graph.count(target)) << node << " includes " << target << ", which is not under src/";
            const int to = layerOf(folderOf(target));
            EXPECT_TRUE(to >= 0 && to <= from) << node << " includes " << target << " against the layers";
        }
    }
}

TEST(IncludeGraphTest, NoClassReachesItselfThroughItsIncludes)
{
    const Graph graph = readIncludes(fs::path(SPU_SOURCE_DIR) / "src");
    std::map<std::string, int> state;
    for (const auto& entry : graph)
    {
        std::vector<std::string> path;
        if (state[entry.first] == 0 && findCycle(graph, entry.first, state, path))
        {
            std::string cycle;
            for (const std::string& node : path)
                cycle += (cycle.empty() ? "" : " -> ") + node;
            ADD_FAILURE() << "include cycle: " << cycle;
            return; // the nodes of the cycle stay marked: one cycle at a time
        }
    }
}
} // namespace
