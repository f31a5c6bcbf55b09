// A throwaway PostgreSQL cluster for tests and benchmarks: made with initdb
// in a scratch folder, serving on a Unix socket in that folder only (no TCP
// port), stopped and removed with the object. initdb and the server refuse
// to run as root, so under root (as in CI) they run as nobody through
// setpriv; the tests themselves connect as the cluster's superuser "zorm",
// which the socket trusts.
//
// ZORM_PG_BINDIR names the folder of initdb, pg_ctl and psql (CMake finds
// it: /usr/lib/postgresql/NN/bin on Debian).
#pragma once

#include "records/database_url.h"
#include "tests/support/scratch_directory.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorm::test {

class PgCluster {
public:
    PgCluster() {
        if (::geteuid() == 0 && ::chown(dir_.Path().c_str(), Nobody, Nobody) != 0) {
            throw std::runtime_error("cannot give the cluster's folder to nobody");
        }
        Server({Bin("initdb"), "-D", Data(), "-U", "zorm", "-A", "trust", "-E", "UTF8",
                "--locale=C", "--no-sync"},
               "initdb");
        std::ofstream(Data() + "/postgresql.conf", std::ios::app)
            << "listen_addresses = ''\n"
            << "unix_socket_directories = '" << Socket()
            << "'\n"
            // Throwaway data: a test that stops the server stops it cleanly.
            << "fsync = off\n"
            << "max_connections = 40\n";
        Start();
    }
    ~PgCluster() {
        if (running_) {
            Run(ServerCommand({Bin("pg_ctl"), "stop", "-D", Data(), "-m", "immediate", "-w"}));
        }
    }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    void Start() {
        Server({Bin("pg_ctl"), "start", "-D", Data(), "-l", dir_.Path() / "server.log", "-w", "-t",
                "60"},
               "pg_ctl start");
        running_ = true;
    }
    void Stop() {
        Server({Bin("pg_ctl"), "stop", "-D", Data(), "-m", "fast", "-w"}, "pg_ctl stop");
        running_ = false;
    }

    // The address of a database of this cluster (see CreateDatabase).
    DatabaseUrl Url(const std::string& database) const {
        return {"zorm", Socket(), std::nullopt, database};
    }

    void CreateDatabase(const std::string& name) const {
        Psql("postgres", "CREATE DATABASE \"" + name + "\"");
    }

    // Runs SQL through psql (not through our code) and returns its
    // unaligned output, one row a line.
    std::string Psql(const std::string& database, const std::string& sql) const {
        std::string output;
        const int status = Run({Bin("psql"), "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h",
                                Socket(), "-U", "zorm", "-d", database, "-c", sql},
                               &output);
        if (status != 0) {
            throw std::runtime_error("psql failed on: " + sql);
        }
        return output;
    }

private:
    static constexpr uid_t Nobody = 65534;

    static std::string Bin(const char* program) {
        return std::string(ZORM_PG_BINDIR) + "/" + program;
    }
    std::string Data() const { return (dir_.Path() / "data").string(); }
    std::string Socket() const { return dir_.Path().string(); }

    // As nobody when we are root.
    static std::vector<std::string> ServerCommand(std::vector<std::string> argv) {
        if (::geteuid() == 0) {
            argv.insert(argv.begin(),
                        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        }
        return argv;
    }

    void Server(const std::vector<std::string>& argv, const char* what) const {
        std::string output;
        if (Run(ServerCommand(argv), &output) != 0) {
            std::ifstream log(dir_.Path() / "server.log");
            const std::string server((std::istreambuf_iterator<char>(log)), {});
            throw std::runtime_error(std::string(what) + " failed:\n" + output + server);
        }
    }

    // Runs a program from "/" (which nobody may enter), its output and errors
    // into `output`; its exit status.
    static int Run(const std::vector<std::string>& argv, std::string* output = nullptr) {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) {
            return -1;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(pipeEnds[1], 1);
            ::dup2(pipeEnds[1], 2);
            ::close(pipeEnds[0]);
            ::close(pipeEnds[1]);
            std::vector<char*> args;
            for (const std::string& arg : argv) {
                args.push_back(const_cast<char*>(arg.c_str()));
            }
            args.push_back(nullptr);
            if (::chdir("/") == 0) {
                ::execvp(args[0], args.data());
            }
            ::_exit(127);
        }
        ::close(pipeEnds[1]);
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
            if (output) {
                output->append(buffer, static_cast<std::size_t>(got));
            }
        }
        ::close(pipeEnds[0]);
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child) {
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    ScratchDirectory dir_;
    bool running_ = false;
};

} // namespace zorm::test
