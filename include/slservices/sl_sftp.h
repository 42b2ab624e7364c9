/* Remote folders as file systems: libslsftp.so connects to an SSH server, starts its SFTP
 * subsystem and hands out an SLFileSystem that serves one folder of the server. Register it with
 * the file-system service under any name and read and write it through streams like ordinary
 * files. Linux only: the library stands on libssh2, which has no build for the Windows
 * toolchain.
 *
 * The URL: sftp://[USER@]HOST[:PORT][/PATH][?OPTION=VALUE&...]
 *   USER      the login name; default: the local user's
 *   HOST      a name or an address; an IPv6 address in brackets ([::1])
 *   PORT      default 22
 *   PATH      the folder served as the file system's root: "/srv/data" is absolute, "/~" or
 *             "/~/data" is below the login folder, no path is the login folder itself;
 *             %XX escapes a byte
 *   timeout=SECONDS       every wait for the network (the name lookup and connecting
 *                         together, the handshake, each exchange); default 30
 *   known_hosts=FILE      the host keys trusted; default ~/.ssh/known_hosts
 *   identity=FILE         the private key to log in with; default: the agent (SSH_AUTH_SOCK),
 *                         then ~/.ssh/id_ed25519, id_ecdsa and id_rsa
 * Options given in SLSftpOptions win over the URL's. No password is ever taken: log in with a
 * key. The server's host key must be in the known-hosts file under the URL's host (with
 * "[HOST]:PORT" for a port other than 22); an unknown or changed key refuses the connection.
 * The server is asked first for the kinds of host key that the file holds for it.
 *
 * Codes of SLSftpConnect:
 *   0   connected; *fileSystem holds one reference
 *   3   a null argument, a malformed URL, or an option out of range
 *   7   the host cannot be found or reached, the connection or the SSH handshake fails or
 *       takes longer than the timeout, the server has no SFTP subsystem
 *   11  the URL's folder is not on the server
 *   15  the host key is unknown or has changed, no key logs in, or the URL's path is a file
 * On failure *fileSystem is left as it was and `reason` (when given) receives a sentence.
 *
 * Codes of the file system's entries, besides the argument checks of every file system:
 *   3   a path that climbs above the root with "..", or that is not valid UTF-16; a search
 *       that finds nothing
 *   7   the connection is lost (the server closed it, or did not answer within the timeout):
 *       the record says which, and every later call on a file opened over it fails at once
 *       with the same record, while the next call that names a path connects again (and,
 *       when that fails too, says both what was lost and why connecting failed); a
 *       missing folder on the way; a folder not empty; a file opened for writing that this
 *       file system already has open (or one opened for reading, when opening for writing);
 *       any other failure the server reports
 *   11  no such file
 *   15  permission denied; a folder opened as a file
 *   16  CreateFolder on a name that exists
 * Writes are gathered and sent in large pipelined requests: a failure of the server to store
 * them shows at the next FlushFile, GetFileSize, read, seek-and-write elsewhere or CloseFile of
 * that handle. FlushFile sends what is gathered and, where the server offers
 * "fsync@openssh.com", asks it to put the file on its disk; elsewhere that second step is left
 * out. Reads fetch ahead of the position, so that a stream reading 4 KiB at a time makes one
 * exchange per large block.
 *
 * A file system still held when the process's exit handlers have run (libssh2's cryptography
 * may be gone by then) calls nothing of libssh2 any more: it closes only its socket.
 *
 * Threads: every entry may run on any thread at once; one SSH connection per file system.
 * Calls into libssh2 are serialised per connection, one library call at a time (never a whole
 * transfer), and no other lock is held while one waits for the network. */
#ifndef SLSERVICES_SL_SFTP_H_
#define SLSERVICES_SL_SFTP_H_

#include <stddef.h>

#include "slservices/sl_filesystem.h"

SL_EXTERN_C_BEGIN

/* What a host sets besides the URL; zero or null fields take the URL's value, else the
 * default. `size` is sizeof(SLSftpOptions) as the host was built with it. */
typedef struct SLSftpOptions {
  uint32_t size;
  uint32_t timeoutMs;             /* every network wait; 0: the URL's, else 30000 */
  const char* knownHostsPath;     /* UTF-8 */
  const char* identityPath;       /* UTF-8; the private key file */
  const char* identityPassphrase; /* for an encrypted key file; never from a command line */
} SLSftpOptions;

SL_STATIC_ASSERT(sizeof(void*) != 8 || sizeof(SLSftpOptions) == 32, "SLSftpOptions layout");
SL_STATIC_ASSERT(sizeof(void*) != 8 || offsetof(SLSftpOptions, knownHostsPath) == 8,
                 "SLSftpOptions layout");

/* Connects as the URL says and creates a file system for the URL's folder that reports
 * `nameAtom` from GetFileSystemName (its registry key). `options` may be null. `reason` may be
 * null; otherwise it receives a NUL-terminated sentence of at most reasonSize - 1 bytes on
 * failure. [thread-safe] */
SLResult SLSftpConnect(const char* url, const SLSftpOptions* options, uint32_t nameAtom,
                       SLFileSystem** fileSystem, char* reason, uint64_t reasonSize);

typedef SLResult (*SLSftpConnectFn)(const char* url, const SLSftpOptions* options,
                                    uint32_t nameAtom, SLFileSystem** fileSystem, char* reason,
                                    uint64_t reasonSize);

#define SL_SFTP_CONNECT "SLSftpConnect"

SL_EXTERN_C_END

#endif /* SLSERVICES_SL_SFTP_H_ */
