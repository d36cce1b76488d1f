/* The floor for a monitoring pass: the same drive commands the monitor sends, with nothing around
 * them. Per drive and pass: open, S.M.A.R.T. RETURN STATUS, close; open, READ DATA, close; open,
 * READ THRESHOLDS, close, each as one ATA PASS-THROUGH (16) through SG_IO, the device opened as the
 * monitor opens it. Built static, so that loading costs next to nothing.
 *
 *   BareSmartLoop PASSES DEVICE...      e.g. BareSmartLoop 500 /dev/sda /dev/sdb
 *
 * Exits 1 when a command fails (the figures would then mean nothing), 2 on bad arguments. */
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
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

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s PASSES DEVICE...\n", argv[0]);
    return 2;
  }
  const long passes = strtol(argv[1], NULL, 10);
  if (passes < 1) return 2;
  for (long pass = 0; pass < passes; ++pass) {
    for (int d = 2; d < argc; ++d) {
      const int index = argv[d][strlen(argv[d]) - 1] - 'a';
      if (!SendSmart(argv[d], index, kReturnStatus) || !SendSmart(argv[d], index, kReadData) ||
          !SendSmart(argv[d], index, kReadThresholds)) {
        fprintf(stderr, "%s: a command failed\n", argv[d]);
        return 1;
      }
    }
  }
  return 0;
}
