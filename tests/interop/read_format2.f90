! Reads a text field file of format 2 the way the beam-dynamics code does: five
! list-directed header READs (field type, symmetry flags, and per axis the lower
! and upper limit and the node count), then one list-directed READ of the three
! components per node with z varying fastest, then one more READ must hit the
! end of file. The arrays are sized by the counts read from the file.
! Everything read is copied unchanged to a stream dump:
!   iflag_EH, ksym_x, ksym_y, ksym_z,
!   x lower, x upper, nx, y lower, y upper, ny, z lower, z upper, nz,
!   the three component arrays (nx, ny, nz), x index fastest.
!
! usage: interop_read_format2 FIELD_FILE DUMP_FILE
! exit status: 0 all read; 2 bad usage or the dump cannot be written;
!              3 a READ failed (the statement is named on standard error);
!              4 text follows the last node; 5 a node count is not positive.
program read_format2
  use reader_support
  implicit none
  integer :: iflag_EH, ksym_x, ksym_y, ksym_z, nx, ny, nz, i, j, k, statement
  real(dp) :: x_lower, x_upper, y_lower, y_upper, z_lower, z_upper
  character(len=4096) :: field_file, dump_file
  integer :: ios

  call get_files('interop_read_format2', field_file, dump_file)

  open(7, file=trim(field_file), status='old', form='formatted', access='sequential', &
       action='read', iostat=ios, iomsg=msg)
  call check(ios, 0)
  read(7, *, iostat=ios, iomsg=msg) iflag_EH
  call check(ios, 1)
  read(7, *, iostat=ios, iomsg=msg) ksym_x, ksym_y, ksym_z
  call check(ios, 2)
  read(7, *, iostat=ios, iomsg=msg) x_lower, x_upper, nx
  call check(ios, 3)
  read(7, *, iostat=ios, iomsg=msg) y_lower, y_upper, ny
  call check(ios, 4)
  read(7, *, iostat=ios, iomsg=msg) z_lower, z_upper, nz
  call check(ios, 5)
  if (nx < 1 .or. ny < 1 .or. nz < 1) then
    write(error_unit, '(a,3(1x,i0))') 'node counts are not positive:', nx, ny, nz
    error stop 5
  end if
  allocate(f1(nx, ny, nz), f2(nx, ny, nz), f3(nx, ny, nz))

  statement = 5
  do i = 1, nx
    do j = 1, ny
      do k = 1, nz
        statement = statement + 1
        read(7, *, iostat=ios, iomsg=msg) f1(i, j, k), f2(i, j, k), f3(i, j, k)
        call check(ios, statement)
      end do
    end do
  end do
  read(7, '(a)', iostat=ios, iomsg=msg)
  call check_end(ios)
  close(7)

  call open_dump(dump_file)
  write(8) iflag_EH, ksym_x, ksym_y, ksym_z
  write(8) x_lower, x_upper, nx, y_lower, y_upper, ny, z_lower, z_upper, nz
  write(8) f1, f2, f3
  close(8)
end program read_format2
