/* The floor for a monitoring pass: the same drive commands the monitor sends, with nothing around
 * them. Per drive and pass: open, S.M.A.R.T. RETURN STATUS, close; open, READ DATA, close; open,
 * READ THRESHOLDS, close, each as one ATA PASS-THROUGH (16) through SG_IO, the device opened as the
 * monitor opens it. Built static, so that loading costs next to nothing.
 *
 * With --behind-socket the commands run in a child process and each pass is one round trip on a
 * socket pair (a request and a reply of the sizes the drive helper exchanges for a pass of three
 * drives): the floor for any design that keeps the privileged commands in a process of their own.
 *
 *   BareSmartLoop [--behind-socket] PASSES DEVICE...      e.g. BareSmartLoop 500 /dev/sda /dev/sdb
 *
 * Exits 1 when a command fails (the figures would then mean nothing), 2 on bad arguments. */
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

enum { kSectorBytes = 512, kSenseBytes = 64, kTimeoutMs = 2000 };

/* S.M.A.R.T. sub-commands (FEATURES) of the ATA command 0xB0. */
enum { kReadData = 0xD0, kReadThresholds = 0xD1, kReturnStatus = 0xDA };

static int SendSmart(const char* device, int driveIndex, unsigned char feature) {
  const int fd = open(device, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  const int dataIn = feature != kReturnStatus;
  unsigned char cdb[16] = {0x85};
  cdb[1] = (unsigned char)((dataIn ? 4 : 3) << 1); /* PIO data-in or non-data */
  cdb[2] = dataIn ? 0x0E : 0x20; /* T_DIR, BYT_BLOK, length in SECTOR COUNT; or CK_COND */
  cdb[4] = feature;
  cdb[6] = 1;    /* sector count */
  cdb[8] = 1;    /* LBA low */
  cdb[10] = 0x4F; /* LBA mid and high: the S.M.A.R.T. signature */
  cdb[12] = 0xC2;
  cdb[13] = (unsigned char)(0xA0 | ((driveIndex & 1) << 4));
  cdb[14] = 0xB0;
  unsigned char data[kSectorBytes];
  unsigned char sense[kSenseBytes];
  sg_io_hdr_t io;
  memset(&io, 0, sizeof io);
  io.interface_id = 'S';
  io.cmd_len = sizeof cdb;
  io.cmdp = cdb;
  io.mx_sb_len = sizeof sense;
  io.sbp = sense;
  io.dxfer_direction = dataIn ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
  io.dxfer_len = dataIn ? sizeof data : 0;
  io.dxferp = dataIn ? data : NULL;
  io.timeout = kTimeoutMs;
  const int ok = ioctl(fd, SG_IO, &io) == 0 && io.host_status == 0;
  close(fd);
  return ok;
}

static int Pass(int deviceCount, char** devices) {
  for (int d = 0; d < deviceCount; ++d) {
    const int index = devices[d][strlen(devices[d]) - 1] - 'a';
    if (!SendSmart(devices[d], index, kReturnStatus) || !SendSmart(devices[d], index, kReadData) ||
        !SendSmart(devices[d], index, kReadThresholds)) {
      fprintf(stderr, "%s: a command failed\n", devices[d]);
      return 0;
    }
  }
  return 1;
}

enum { kRequestBytes = 3648, kReplyBytes = 3612 };
static unsigned char request[kRequestBytes];
static unsigned char reply[kReplyBytes];

static int ReadAll(int fd, unsigned char* bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, bytes + done, size - done);
    if (n <= 0) return 0;
    done += (size_t)n;
  }
  return 1;
}

/* The child answers each request with a pass and a reply; the parent asks PASSES times. */
static int PassesBehindSocket(long passes, int deviceCount, char** devices) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 1;
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    close(pair[0]);
    while (ReadAll(pair[1], request, sizeof request)) {
      if (!Pass(deviceCount, devices)) _exit(1);
      if (write(pair[1], reply, sizeof reply) != (ssize_t)sizeof reply) _exit(1);
    }
    _exit(0);
  }
  close(pair[1]);
  int ok = 1;
  for (long pass = 0; ok && pass < passes; ++pass) {
    ok = write(pair[0], request, sizeof request) == (ssize_t)sizeof request &&
         ReadAll(pair[0], reply, sizeof reply);
  }
  close(pair[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  const int behindSocket = argc > 1 && strcmp(argv[1], "--behind-socket") == 0;
  argc -= behindSocket;
  argv += behindSocket;
  if (argc < 3) {
    fprintf(stderr, "usage: BareSmartLoop [--behind-socket] PASSES DEVICE...\n");
    return 2;
  }
  const long passes = strtol(argv[1], NULL, 10);
  if (passes < 1) return 2;
  if (behindSocket) return PassesBehindSocket(passes, argc - 2, argv + 2);
  for (long pass = 0; pass < passes; ++pass) {
    if (!Pass(argc - 2, argv + 2)) return 1;
  }
  return 0;
}
