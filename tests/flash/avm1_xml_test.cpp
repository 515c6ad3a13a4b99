// XML namespaces as the original reads them from the xmlns attributes.
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

std::vector<std::string> RunScript(const E& script) {
    w::Movie movie({.version = 8});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie);
}

}  // namespace

// Every attribute beginning "xmlns" declares a namespace; only "xmlns:name"
// gives it a prefix, so "xmlns:" and "xmlnsabc" declare the default one, and
// of two declarations of one prefix the first counts.
TEST(Avm1Xml, NamespaceDeclarations) {
    struct Case {
        std::string element;
        std::string uri;        // namespaceURI of the element
        std::string prefix_of;  // getPrefixForNamespace("u2")
    } cases[] = {
        {"<a xmlns='u1'/>", "u1", "null"},
        {"<a xmlns:='u2'/>", "u2", ""},
        {"<a xmlnsabc='u2'/>", "u2", ""},
        {"<a xmlns='u1' xmlns:='u2'/>", "u1", ""},
        {"<a xmlns:='u2' xmlns='u1'/>", "u2", ""},
        {"<a xmlns:p='u2'/>", "", "p"},
        {"<p:a xmlns:p='u2'/>", "u2", "p"},
        {"<a xmlnx='u2'/>", "", "null"},
    };
    for (const Case& c : cases) {
        E node = Member(E().push({c.element, 1, "XML"}).newObject(), "firstChild");
        E script = Seq({SetVar("n", node), Trace(Member(Var("n"), "namespaceURI")),
                        Trace(Call(Var("n"), "getPrefixForNamespace", {Lit("u2")}))});
        EXPECT_EQ(RunScript(script), (std::vector<std::string>{c.uri, c.prefix_of})) << c.element;
    }
}
