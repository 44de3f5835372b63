! Reads a binary field file (format 0) the way the beam-dynamics code does: the
! file is opened as a sequential unformatted file and read with the nine READ
! statements of its record layout, then one more READ must hit the end of file.
! Everything read is copied unchanged to a stream dump, so that the end-to-end
! tests can compare it with what the converter wrote.
!
! usage: interop_read_format0 FIELD_FILE DUMP_FILE
! exit status: 0 all read; 2 bad usage or the dump cannot be written;
!              3 a READ failed (the statement is named on standard error);
!              4 data follows the end mark.
program read_format0
  use reader_support
  implicit none
  integer, parameter :: nx = 25, ny = 25, nz = 201
  real(dp) :: d_elm, aper
  integer :: k_s_EH, ksym_x, ksym_y, ksym_z, kend_mark
  real(dp) :: x_grid(nx), y_grid(ny), z_grid(nz)
  character(len=4096) :: field_file, dump_file
  integer :: ios

  call get_files('interop_read_format0', field_file, dump_file)
  allocate(f1(nx, ny, nz), f2(nx, ny, nz), f3(nx, ny, nz))

  open(7, file=trim(field_file), status='old', form='unformatted', access='sequential', &
       action='read', iostat=ios, iomsg=msg)
  call check(ios, 0)
  read(7, iostat=ios, iomsg=msg) d_elm, aper, k_s_EH
  call check(ios, 1)
  read(7, iostat=ios, iomsg=msg) ksym_x, ksym_y, ksym_z
  call check(ios, 2)
  read(7, iostat=ios, iomsg=msg) x_grid
  call check(ios, 3)
  read(7, iostat=ios, iomsg=msg) y_grid
  call check(ios, 4)
  read(7, iostat=ios, iomsg=msg) z_grid
  call check(ios, 5)
  read(7, iostat=ios, iomsg=msg) f1
  call check(ios, 6)
  read(7, iostat=ios, iomsg=msg) f2
  call check(ios, 7)
  read(7, iostat=ios, iomsg=msg) f3
  call check(ios, 8)
  read(7, iostat=ios, iomsg=msg) kend_mark
  call check(ios, 9)
  read(7, iostat=ios, iomsg=msg)
  call check_end(ios)
  close(7)

  call open_dump(dump_file)
  write(8) d_elm, aper, k_s_EH, ksym_x, ksym_y, ksym_z
  write(8) x_grid, y_grid, z_grid
  write(8) f1, f2, f3
  write(8) kend_mark
  close(8)
end program read_format0
