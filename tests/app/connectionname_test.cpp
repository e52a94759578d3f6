#include "app/connectionname.h"

#include <gtest/gtest.h>

namespace {

TEST(ConnectionName, LocalFilesAndServerNamesAreToldApart)
{
    const struct {
        const char* text;
        bool onServer;
        const char* name; // what is opened
    } cases[] = {
        { "/data/catalogue.fdb", false, "/data/catalogue.fdb" },
        { "./nas:/catalogue.fdb", false, "./nas:/catalogue.fdb" },
        { "../films/cat.fdb", false, "../films/cat.fdb" },
        { "~/films/cat.fdb", false, "/home/ann/films/cat.fdb" },
        { "~", false, "/home/ann" },
        { "~root/cat.fdb", false, "/root/cat.fdb" },
        { "~nosuchuser-ibi/cat.fdb", false, "~nosuchuser-ibi/cat.fdb" },
        { "catalogue.fdb", false, "catalogue.fdb" },
        { "films/catalogue.fdb", false, "films/catalogue.fdb" },
        { "odd name:", false, "odd name:" },     // nothing after the colon
        { ":/catalogue.fdb", false, ":/catalogue.fdb" }, // no host
        { "my films:/cat.fdb", false, "my films:/cat.fdb" }, // a space is no host character
        { "a/b/c:/cat.fdb", false, "a/b/c:/cat.fdb" },
        { "nas:/srv/films/catalogue.fdb", true, "nas:/srv/films/catalogue.fdb" },
        { "nas.home.lan:films", true, "nas.home.lan:films" },
        { "192.168.1.20/3051:/srv/cat.fdb", true, "192.168.1.20/3051:/srv/cat.fdb" },
        { "nas/gds_db:/srv/cat.fdb", true, "nas/gds_db:/srv/cat.fdb" },
        { "[::1]:/srv/cat.fdb", true, "[::1]:/srv/cat.fdb" },
        { "[fe80::1%eth0]/3051:/srv/cat.fdb", true, "[fe80::1%eth0]/3051:/srv/cat.fdb" },
        { "[::1:/srv/cat.fdb", false, "[::1:/srv/cat.fdb" },
        { "inet://nas/srv/cat.fdb", true, "inet://nas/srv/cat.fdb" },
        { "inet://nas:3051/srv/cat.fdb", true, "inet://nas:3051/srv/cat.fdb" },
        { "inet6://[::1]/srv/cat.fdb", true, "inet6://[::1]/srv/cat.fdb" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const TConnectionName name = ClassifyConnectionName(c.text, "/home/ann");
        EXPECT_EQ(name.OnServer(), c.onServer);
        EXPECT_EQ(name.Name, c.name);
    }
}

} // namespace
